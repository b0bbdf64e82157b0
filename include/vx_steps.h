/* vx_steps.h: the boundary between a workflow host and the vx_velloran_steps
 * step library. Plain C99 and C++; every record is laid out as the host and
 * library agree, so arrays of them may cross between separately compiled
 * programs. The library exports exactly vx_list_steps and vx_resolve_step. */
#ifndef VX_STEPS_H
#define VX_STEPS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VX_BUILDING_LIBRARY)
#define VX_API __attribute__((visibility("default")))
#else
#define VX_API
#endif

/* Result of a step entry.
 *  0  VX_STATUS_OK            the step ran and the host accepted its last output
 *  1  VX_STATUS_HOST_ERROR    no host services (null host or api), or the host
 *                             refused an output that was not the step's last
 *  2  VX_STATUS_INVALID_INPUT too few values, a null array with a non-zero
 *                             count, an unreadable required value, a
 *                             failed get_input_text, or a step-specific refusal.
 *                             Also returned when a step cannot finish because
 *                             memory ran out or an unexpected internal error
 *                             occurred: no exception ever leaves an entry, and
 *                             no output has been offered when 2 is returned.
 *  any other value: the non-zero result of the host's last output callback,
 *  passed through unchanged. */
typedef int32_t StepStatus;
enum {
  VX_STATUS_OK = 0,
  VX_STATUS_HOST_ERROR = 1,
  VX_STATUS_INVALID_INPUT = 2
};

/* Kind tag of a StepValue. Codes 5 and 6 are read as text like 1; any other
 * code is never read as a number. */
typedef int32_t ValueKind;
enum {
  VX_KIND_TEXT = 1,
  VX_KIND_INT64 = 3,
  VX_KIND_FLOAT64 = 4
};

/* A tagged value: parameters, inputs and outputs. Text is never
 * NUL-terminated: its length is size. */
typedef struct StepValue {
  int32_t kind;
  const void* data;
  uint64_t size;
} StepValue;

typedef struct HostContext HostContext;

/* Slot 1: hands over the text of an input. 0 = *text and *length now hold it.
 * The step reads the text where it lies, so it must stay valid and unchanged
 * until the step call returns; the step never writes into it. */
typedef int32_t (*VxGetInputText)(HostContext* host, const StepValue* input,
                                  const char** text, uint64_t* length);
/* Slot 4: one number for an output. 0 = accepted. */
typedef int32_t (*VxSetOutputNumber)(HostContext* host, StepValue* output,
                                     double value);
/* Slot 7: one complete text for an output; the text is valid only during the
 * call. 0 = accepted. */
typedef int32_t (*VxSetOutputText)(HostContext* host, StepValue* output,
                                   const char* text, uint64_t length);

/* The host's callback table. Positions are the contract: never reorder. The
 * library calls slots 1, 4 and 7 only. */
typedef struct HostApi {
  void* slot0;
  VxGetInputText get_input_text;
  void* slot2;
  void* slot3;
  VxSetOutputNumber set_output_number;
  void* slot5;
  void* slot6;
  VxSetOutputText set_output_text;
} HostApi;

/* The host's object. The first two words are the host's own and never touched
 * by the library; a host may embed this record at the start of a larger one. */
struct HostContext {
  void* host_data[2];
  const HostApi* api;
};

/* The run function of a step. The library never writes into any StepValue. */
typedef StepStatus (*StepEntry)(HostContext* host, const StepValue* params,
                                uint64_t n_params, const StepValue* inputs,
                                uint64_t n_inputs, StepValue* outputs,
                                uint64_t n_outputs);

/* What the host receives for one step. All texts are constant for as long as
 * the library is loaded. */
typedef struct StepDescriptor {
  const char* iri;
  const char* contract_digest; /* 64 lowercase hexadecimal characters */
  StepEntry entry;
  uintptr_t reserved; /* always 0 */
} StepDescriptor;

/* Stores the address of the constant list of the five step IRIs in *out_iris
 * (when out_iris is not null) and returns 5. */
VX_API int32_t vx_list_steps(const char* const** out_iris);

/* Copies the descriptor of the step whose IRI equals iri byte for byte into
 * *out and returns 0; returns -1 (and leaves *out alone) for a null argument
 * or an unknown IRI. */
VX_API int32_t vx_resolve_step(const char* iri, StepDescriptor* out);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VX_STEPS_H */
