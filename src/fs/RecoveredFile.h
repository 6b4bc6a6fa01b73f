#pragma once
// The output side of one extraction: a new file under a safe, unused name in the output
// folder, written in pieces, closed with the entry's times set.

#include <cstdint>
#include <string>

#include "fs/VolumeParser.h"
#include "platform/Output.h"

namespace kelvara {

class RecoveredFile {
public:
    // Creates folder/<safe name>; a taken name gets a numbered variant.
    bool create(const std::string& folder, const std::string& name);
    bool write(const void* data, std::size_t count);
    bool writeZeros(std::uint64_t count);
    // The same as writeZeros, as a hole in the output where the file system allows.
    bool skipZeros(std::uint64_t count);
    // Closes the file and sets its times. complete says whether every byte was read;
    // message says what was not.
    ExtractResult finish(const EntryTimesUtc& times, bool complete, const std::string& message = {});
    const std::string& path() const { return file_.path(); }
    const std::string& error() const { return file_.error(); }

private:
    platform::OutputFile file_;
    std::uint64_t written_ = 0;
    bool writeFailed_ = false;
};

}  // namespace kelvara
