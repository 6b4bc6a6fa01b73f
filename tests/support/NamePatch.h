#pragma once
// Renaming entries inside a whole-volume image, for tests that feed hostile names to the
// parsers. Each helper rewrites every directory entry named `from` (ASCII) in place and
// keeps the structure its parser reads consistent: lengths, slot counts and the
// checksums the format defines. The new name may not be longer than the old one.
// Each returns how many entries it rewrote.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvara::test {

// NTFS: every $FILE_NAME-shaped copy (length byte and namespace before the UTF-16 text),
// so the record and the index entries agree.
int patchNtfsName(std::vector<std::uint8_t>& img, const std::string& from, const std::u16string& to);

// FAT long names: the run of long-name slots before a short slot, text ended by 0x0000
// and padded with 0xFFFF as a driver writes it; slots a shorter name no longer needs are
// marked deleted. The short slot and its checksum stay.
int patchFatLongName(std::vector<std::uint8_t>& img, const std::string& from, const std::u16string& to);

// FAT 8.3 names: the 11 bytes of a short slot (one without a long name, or the long
// name no longer matches its checksum). from and to are the 11 bytes as stored, base and
// extension, trailing blanks optional ("HELLO   TXT").
int patchFatShortName(std::vector<std::uint8_t>& img, const std::string& from, const std::string& to);

// exFAT: the name entries of a live entry set, its stream entry's name length, its
// secondary count (spare name entries are marked deleted) and the set checksum. The
// name hash is left as it is.
int patchExfatName(std::vector<std::uint8_t>& img, const std::string& from, const std::u16string& to);

// ext2/3/4: linear directory entries (name length byte; the record length stays).
int patchExtName(std::vector<std::uint8_t>& img, const std::string& from, const std::string& to);

// HFS+: catalog keys and thread records of the volume starting at volumeOffset. Records
// of a node are repacked so that key lengths stay exact and the offset table matches.
int patchHfsName(std::vector<std::uint8_t>& img, std::uint64_t volumeOffset, const std::string& from,
                 const std::u16string& to);

}  // namespace kelvara::test
