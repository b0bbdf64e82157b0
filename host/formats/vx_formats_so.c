/* libvx_formats.so: the C API of vx_formats.h, whose definitions live in
 * the static library it links whole. This file keeps the header valid C
 * and makes the linker pull every entry in. */
#include "vx_formats.h"

typedef int32_t (*vxf_read_fn)(const char*, char**, size_t*, char**, size_t*, char**);

/* Referencing the entries makes the linker keep their object file. */
__attribute__((used)) static const vxf_read_fn vxf_keep_read = vxf_read_andi;
