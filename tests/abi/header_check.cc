// Compiles the public header alone as C++: it must stay valid C++ with every warning an error.
#include "quillbox/quillbox.h"

int main() {
  void (*init)(void*, uint32_t) = qbInit;
  const qb_wchar* text = u"CP949";
  return (init != nullptr && text[0] == u'C') ? 0 : 1;
}
