/* Builds the public header as strict C99, loads the plugin with dlopen and
 * lists, resolves and runs a step through the function pointers only. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "vx_steps.h"

static double g_result;
static int g_calls;

static int32_t set_number(HostContext* host, StepValue* output, double value) {
  (void)host;
  (void)output;
  g_result = value;
  ++g_calls;
  return 0;
}

int main(int argc, char** argv) {
  void* lib;
  int32_t (*list)(const char* const**);
  int32_t (*resolve)(const char*, StepDescriptor*);
  const char* const* iris = NULL;
  StepDescriptor d;
  HostApi api;
  HostContext ctx;
  StepValue params[1], inputs[2], outputs[1];
  double a = 10.0, b = 4.0;
  StepStatus status;
  int32_t n;

  if (argc < 2) return 2;
  lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) { fprintf(stderr, "%s\n", dlerror()); return 1; }
  *(void**)(&list) = dlsym(lib, "vx_list_steps");
  *(void**)(&resolve) = dlsym(lib, "vx_resolve_step");
  if (!list || !resolve) return 1;
  n = list(&iris);
  if (n != 5 || iris == NULL) return 1;
  if (resolve(iris[0], &d) != 0 || d.reserved != 0 || d.iri != iris[0]) return 1;
  if (strlen(d.contract_digest) != 64) return 1;

  memset(&api, 0, sizeof api);
  api.set_output_number = set_number;
  memset(&ctx, 0, sizeof ctx);
  ctx.api = &api;
  params[0].kind = VX_KIND_TEXT; params[0].data = "subtraction"; params[0].size = 11;
  inputs[0].kind = VX_KIND_FLOAT64; inputs[0].data = &a; inputs[0].size = 8;
  inputs[1].kind = VX_KIND_FLOAT64; inputs[1].data = &b; inputs[1].size = 8;
  memset(outputs, 0, sizeof outputs);
  status = d.entry(&ctx, params, 1, inputs, 2, outputs, 1);
  if (status != VX_STATUS_OK || g_calls != 1 || g_result != 6.0) {
    fprintf(stderr, "status %d calls %d result %g\n", (int)status, g_calls, g_result);
    return 1;
  }
  dlclose(lib);
  puts("c abi ok");
  return 0;
}
