// C export: the library's version.
#include "platform/version.h"
#include "quillbox/quillbox.h"

extern "C" {

const char* qbGetVersion(void) { return QB_VERSION_TEXT; }

}  // extern "C"
