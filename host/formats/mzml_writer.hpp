// Indexed mzML 1.1 written from ANDI spectrum records (vxrun convert). Arrays
// are zlib-compressed little-endian floats, 64-bit unless the array was
// stored as 32-bit floats and every value survives the narrowing, which
// keeps the file lossless and lets the project's mzML reader give back the
// same dtype members. The index list offsets and indexListOffset are byte
// offsets of the written file, and fileChecksum is the SHA-1 of every byte
// up to and including "<fileChecksum>". Throws only std::bad_alloc.
#pragma once

#include <string>
#include <string_view>

#include "andi_reader.hpp"

namespace vx::host::formats {

// The whole file as text; source_path names the converted file in the
// sourceFile element.
std::string indexed_mzml_text(const AndiRun& run, std::string_view source_path);

// Writes the file at out_path. False with a message in error when the file
// cannot be created or written (a partial file is removed).
bool write_indexed_mzml(const AndiRun& run, std::string_view source_path,
                        std::string_view out_path, std::string& error);

}  // namespace vx::host::formats
