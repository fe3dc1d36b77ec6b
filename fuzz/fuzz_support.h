// Scratch files for the fuzz targets: one folder per process, so that several
// fuzzing jobs can run side by side.
#ifndef ZEFACUT_FUZZ_FUZZ_SUPPORT_H
#define ZEFACUT_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

// The process's scratch folder, made on first use.
const std::string& ScratchDirectory();
// A path in it; the string lives as long as the process.
const std::string& ScratchFile(const char* name);
// Stops the run with a crash that the fuzzer reports, when `holds` is false.
void Require(bool holds);

bool WriteScratchFile(const std::string& path, const std::uint8_t* data, std::size_t size);

#endif  // ZEFACUT_FUZZ_FUZZ_SUPPORT_H
