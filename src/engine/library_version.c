/* The version of libQUILLBOXCE, kept in the library for diagnostics (strings(1) shows it). */
#include "platform/version.h"

const char quillbox_library_version[] __attribute__((used)) = "QUILLBOXCE " QB_VERSION_TEXT;
