#include "cli/freed_memory.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace ravelin::cli {

void ReturnFreedMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

}  // namespace ravelin::cli
