// The C boundary of the formats layer. Each entry runs its body inside
// guarded(), so no exception (std::bad_alloc above all) crosses into a C or
// Python caller; texts are copied into malloc'ed buffers the caller frees
// with vxf_free.
#include "vx_formats.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "andi_reader.hpp"
#include "mzml_writer.hpp"

namespace {

using vx::host::formats::AndiDocuments;
using vx::host::formats::AndiStatus;

template <typename F>
int32_t guarded(F&& f) {
  try {
    return f();
  } catch (...) {
    return VXF_INTERNAL_ERROR;
  }
}

// A malloc'ed, NUL-terminated copy; nullptr when memory is short.
char* copy_out(std::string_view text) {
  auto* p = static_cast<char*>(std::malloc(text.size() + 1));
  if (p == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(p, text.data(), text.size());
  p[text.size()] = '\0';
  return p;
}

void clear(char** text, size_t* len) {
  if (text != nullptr) *text = nullptr;
  if (len != nullptr) *len = 0;
}

// Hands the documents over; on a failed copy nothing is kept.
int32_t hand_over(const AndiDocuments& d, char** spectra, size_t* spectra_len, char** summary,
                  size_t* summary_len, char** message) {
  clear(spectra, spectra_len);
  clear(summary, summary_len);
  if (message != nullptr) *message = nullptr;
  char* s = nullptr;
  char* r = nullptr;
  char* m = nullptr;
  const bool ok = d.status == AndiStatus::kOk;
  if ((ok && spectra != nullptr && (s = copy_out(d.spectra_json)) == nullptr) ||
      (ok && summary != nullptr && (r = copy_out(d.summary_json)) == nullptr) ||
      (message != nullptr && (m = copy_out(d.message)) == nullptr)) {
    std::free(s);
    std::free(r);
    return VXF_INTERNAL_ERROR;
  }
  if (ok && spectra != nullptr) {
    *spectra = s;
    if (spectra_len != nullptr) *spectra_len = d.spectra_json.size();
  }
  if (ok && summary != nullptr) {
    *summary = r;
    if (summary_len != nullptr) *summary_len = d.summary_json.size();
  }
  if (message != nullptr) *message = m;
  return static_cast<int32_t>(d.status);
}

AndiDocuments documents_from(vx::host::formats::AndiReadResult r, std::string_view path) {
  AndiDocuments d;
  d.status = r.status;
  d.message = std::move(r.message);
  if (r.status == AndiStatus::kOk) {
    d.spectra_json = vx::host::formats::spectra_document(r.run);
    d.summary_json = vx::host::formats::run_summary_document(r.run, path);
  }
  return d;
}

}  // namespace

extern "C" {

const char* vxf_status_text(int32_t status) {
  switch (status) {
    case VXF_WRITE_FAILED: return "write_failed";
    case VXF_INTERNAL_ERROR: return "internal_error";
    default: break;
  }
  if (status < VXF_OK || status > VXF_UNREADABLE) return "unknown";
  // The texts of the C++ enum are literals, so their data is NUL-terminated.
  return vx::host::formats::status_text(static_cast<AndiStatus>(status)).data();
}

int32_t vxf_read_andi(const char* path, char** spectra_json, size_t* spectra_len,
                      char** summary_json, size_t* summary_len, char** message) {
  return guarded([&] {
    if (path == nullptr) {
      clear(spectra_json, spectra_len);
      clear(summary_json, summary_len);
      if (message != nullptr) *message = copy_out("no path given");
      return int32_t{VXF_INTERNAL_ERROR};
    }
    return hand_over(vx::host::formats::read_andi_file(path), spectra_json, spectra_len,
                     summary_json, summary_len, message);
  });
}

int32_t vxf_read_andi_bytes(const void* data, size_t size, const char* path,
                            char** spectra_json, size_t* spectra_len, char** summary_json,
                            size_t* summary_len, char** message) {
  return guarded([&] {
    const std::string_view name = path != nullptr ? path : "";
    if (data == nullptr && size != 0) {
      clear(spectra_json, spectra_len);
      clear(summary_json, summary_len);
      if (message != nullptr) *message = copy_out("no data given");
      return int32_t{VXF_INTERNAL_ERROR};
    }
    const std::span<const std::byte> bytes(static_cast<const std::byte*>(data), size);
    return hand_over(documents_from(vx::host::formats::read_andi_bytes(bytes, name), name),
                     spectra_json, spectra_len, summary_json, summary_len, message);
  });
}

int32_t vxf_convert_andi_to_mzml(const char* andi_path, const char* mzml_path,
                                 char** message) {
  return guarded([&] {
    if (message != nullptr) *message = nullptr;
    if (andi_path == nullptr || mzml_path == nullptr) {
      if (message != nullptr) *message = copy_out("no path given");
      return int32_t{VXF_INTERNAL_ERROR};
    }
    vx::host::formats::AndiReadResult r = vx::host::formats::read_andi_run(andi_path);
    if (r.status != AndiStatus::kOk) {
      if (message != nullptr) *message = copy_out(r.message);
      return static_cast<int32_t>(r.status);
    }
    std::string error;
    if (!vx::host::formats::write_indexed_mzml(r.run, andi_path, mzml_path, error)) {
      if (message != nullptr) *message = copy_out(error);
      return int32_t{VXF_WRITE_FAILED};
    }
    if (message != nullptr) *message = copy_out(r.message);
    return int32_t{VXF_OK};
  });
}

void vxf_free(void* text) { std::free(text); }

}  // extern "C"
