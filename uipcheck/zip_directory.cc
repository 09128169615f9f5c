#include "uipcheck/zip_directory.h"

#include <algorithm>
#include <cstring>

#include "container/container_format.h"
#include "uipcheck/report.h"

namespace uipcheck {
namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint16_t kUnicodePathExtra = 0x7075;
constexpr std::uint16_t kEncrypted = 0x0001 | 0x0040;
constexpr std::uint16_t kSizesAfterData = 0x0008;
constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint16_t kMax16 = 0xFFFFu;
// The host byte of "version made by" that puts a Unix mode in the external attributes' high half.
constexpr std::uint8_t kUnixHost = 3;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixDirectory = 0040000;
constexpr std::uint32_t kUnixRegularFile = 0100000;
// The end record may be followed by a comment of up to 64 KiB, which is searched only to
// say what follows the end record; the archives we check have none.
constexpr std::size_t kLongestTail = kEndSize + 0xFFFF;

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | std::uint64_t{Le32(p + 4)} << 32; }

bool Fail(ZipFault* fault, std::string entry, std::string expected, std::string found) {
  *fault = {std::move(entry), std::move(expected), std::move(found)};
  return false;
}

// The ZIP64 values an extra block holds for the fields that are at their limit, in the
// format's order: size, compressed size, local header offset, disk.
struct Zip64Fields {
  std::uint64_t* size = nullptr;
  std::uint64_t* compressedSize = nullptr;
  std::uint64_t* offset = nullptr;
  std::uint32_t* disk = nullptr;
};

// A Unicode path block names the entry only for the very header name it was made of (its
// CRC-32), or another reader could show another name.
bool ReadUnicodePath(const std::string& block, const std::string& storedName,
                     std::string* unicodeName, std::string* problem) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
  const auto* header = reinterpret_cast<const std::uint8_t*>(storedName.data());
  if (block.size() < 5 || bytes[0] != 1 ||
      Le32(bytes + 1) != uippack::ContinueChecksum(0, header, storedName.size())) {
    *problem = "a Unicode path extra block that does not belong to the name in the header";
    return false;
  }
  unicodeName->assign(block, 5);
  return true;
}

// The fields at their limit take their values from the block, which must hold them all.
bool ReadZip64Block(const std::uint8_t* block, std::size_t length, Zip64Fields fields,
                    std::string* problem) {
  std::size_t used = 0;
  for (std::uint64_t* field : {fields.size, fields.compressedSize, fields.offset}) {
    if (field == nullptr || *field != kMax32) continue;
    if (length - used < 8) {
      *problem = "a ZIP64 block without the sizes its entry leaves to it";
      return false;
    }
    *field = Le64(block + used);
    used += 8;
  }
  if (fields.disk != nullptr && *fields.disk == kMax16) {
    if (length - used < 4) {
      *problem = "a ZIP64 block without the disk its entry leaves to it";
      return false;
    }
    *fields.disk = Le32(block + used);
  }
  return true;
}

// Walks the extra blocks: they must fill the field exactly. 7-Zip for Windows stores a name the
// code page lacks in a Unicode path block, which readers show instead of the bytes in the header:
// it becomes *unicodeName, and must belong to that very header name (its CRC-32), or another
// reader could show another name.
bool ReadExtra(const std::string& extra, const std::string& storedName, Zip64Fields fields,
               bool* hasZip64, std::string* unicodeName, std::string* problem) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(extra.data());
  std::size_t at = 0;
  *hasZip64 = false;
  while (at < extra.size()) {
    if (extra.size() - at < 4) {
      *problem = "extra fields that end inside a block header";
      return false;
    }
    const std::uint16_t id = Le16(bytes + at);
    const std::size_t length = Le16(bytes + at + 2);
    at += 4;
    if (extra.size() - at < length) {
      *problem = "an extra block longer than the extra field";
      return false;
    }
    if (id == kUnicodePathExtra && unicodeName != nullptr &&
        !ReadUnicodePath(extra.substr(at, length), storedName, unicodeName, problem)) {
      return false;
    }
    if (id == kZip64Extra) {
      *hasZip64 = true;
      if (!ReadZip64Block(bytes + at, length, fields, problem)) return false;
    }
    at += length;
  }
  return true;
}

// A central directory entry's fields, from its fixed part and its extra field.
bool ReadCentralFields(const std::uint8_t* fixed, const std::string& extra, ZipEntryInfo* entry,
                       std::uint16_t* flags, ZipFault* fault) {
  *flags = Le16(fixed + 8);
  entry->method = Le16(fixed + 10);
  entry->crc = Le32(fixed + 16);
  entry->compressedSize = Le32(fixed + 20);
  entry->size = Le32(fixed + 24);
  entry->localOffset = Le32(fixed + 42);
  std::uint32_t disk = Le16(fixed + 34);
  bool zip64 = false;
  std::string problem;
  std::string unicodeName;
  entry->storedName = entry->name;
  if (!ReadExtra(extra, entry->storedName,
                 {&entry->size, &entry->compressedSize, &entry->localOffset, &disk}, &zip64,
                 &unicodeName, &problem)) {
    return Fail(fault, entry->name, "a sound central directory entry", problem);
  }
  if (!unicodeName.empty()) entry->name = unicodeName;
  if (disk != 0) {
    return Fail(fault, entry->name, "an entry on the archive's one disk", "another disk");
  }
  if ((*flags & kEncrypted) != 0) {
    return Fail(fault, entry->name, "an entry anyone can read", "an encrypted entry");
  }
  // 7-Zip makes what a Unix writer's mode says, whatever the name: a link entry comes out a link.
  const bool namedDirectory = !entry->name.empty() && entry->name.back() == '/';
  const std::uint32_t unixType = fixed[5] == kUnixHost ? Le32(fixed + 38) >> 16 & kUnixTypeMask : 0;
  if (unixType != 0 && unixType != (namedDirectory ? kUnixDirectory : kUnixRegularFile)) {
    return Fail(fault, entry->name, namedDirectory ? "a directory" : "a regular file",
                "another kind of entry by its Unix mode");
  }
  if (namedDirectory) entry->name.pop_back();
  return true;
}

}  // namespace

bool WindowReader::Read(std::uint64_t offset, std::size_t length, std::uint8_t* out,
                        std::string* error) {
  if (offset >= start_ && offset - start_ <= filled_ && filled_ - (offset - start_) >= length) {
    std::memcpy(out, buffer_.data() + (offset - start_), length);
    return true;
  }
  std::size_t got = 0;
  if (length > buffer_.size()) {
    if (!source_.ReadAt(offset, out, length, &got, error)) return false;
  } else {
    filled_ = 0;
    if (!source_.ReadAt(offset, buffer_.data(), buffer_.size(), &got, error)) return false;
    start_ = offset;
    filled_ = got;
    got = std::min(got, length);
    std::memcpy(out, buffer_.data(), got);
  }
  if (got < length) {
    *error = "the archive ends at byte " + std::to_string(offset + got) + ", inside a record";
    return false;
  }
  return true;
}

bool WindowReader::Read(std::uint64_t offset, std::size_t length, std::string* out,
                        std::string* error) {
  out->resize(length);
  return Read(offset, length, reinterpret_cast<std::uint8_t*>(out->data()), error);
}

ZipDirectory::ZipDirectory(ByteSource& source, std::size_t window, std::size_t localWindow)
    : source_(source), central_(source, window), local_(source, localWindow) {}

bool ZipDirectory::Open(ZipFault* fault) {
  size_ = source_.Size();
  if (!ReadEnd(fault)) return false;
  cursor_ = directoryStart_;
  return true;
}

bool ZipDirectory::ReadEnd(ZipFault* fault) {
  const std::string wanted = "an end record closing the archive";
  if (size_ < kEndSize) {
    return Fail(fault, {}, wanted, size_ == 0 ? "an empty file" : Bytes(size_));
  }
  std::uint8_t record[kEndSize];
  std::string error;
  const std::uint64_t recordAt = size_ - kEndSize;
  if (!local_.Read(recordAt, sizeof record, record, &error)) return Fail(fault, {}, wanted, error);
  if (Le32(record) != kEndSignature || Le16(record + 20) != 0) {
    return Fail(fault, {}, wanted, DescribeTail());
  }
  if (Le16(record + 4) != 0 || Le16(record + 6) != 0 || Le16(record + 8) != Le16(record + 10)) {
    return Fail(fault, {}, "an archive on one disk", "an end record of a split archive");
  }
  entries_ = Le16(record + 10);
  const std::uint64_t directorySize = Le32(record + 12);
  directoryStart_ = Le32(record + 16);
  directoryEnd_ = recordAt;
  bool zip64 = false;
  if (!ReadZip64End(recordAt, &zip64, fault)) return false;
  if (zip64) {
    // The end record's own fields are at their limit or say the same.
    if ((Le16(record + 10) != kMax16 && Le16(record + 10) != entries_) ||
        (directorySize != kMax32 && directorySize != directoryEnd_ - directoryStart_) ||
        (Le32(record + 16) != kMax32 && Le32(record + 16) != directoryStart_)) {
      return Fail(fault, {}, "an end record that agrees with its ZIP64 end record",
                  "another count, size or offset");
    }
  } else if (entries_ == kMax16 || directorySize == kMax32 || directoryStart_ == kMax32) {
    return Fail(fault, {}, "a ZIP64 end record for the fields at their limit", "none");
  } else if (!DirectoryEndsAt(directorySize, "the end record", fault)) {
    return false;
  }
  if (entries_ > (directoryEnd_ - directoryStart_) / kCentralSize) {
    return Fail(fault, {}, std::to_string(entries_) + " entries in the central directory",
                "room for fewer in its " + Bytes(directoryEnd_ - directoryStart_));
  }
  return true;
}

// What closes the archive instead of an end record, for the message: the last end record
// signature before the file's end, if any.
std::string ZipDirectory::DescribeTail() {
  const std::uint64_t tailStart = size_ - std::min<std::uint64_t>(size_, kLongestTail);
  std::string tail;
  std::string error;
  if (!local_.Read(tailStart, static_cast<std::size_t>(size_ - tailStart), &tail, &error)) {
    return error;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(tail.data());
  for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
    if (Le32(bytes + at) != kEndSignature) continue;
    const std::uint64_t after = tail.size() - at - kEndSize;
    if (Le16(bytes + at + 20) == after) return "an archive comment of " + Bytes(after);
    return after == 0 ? "an end record announcing a comment that is not there"
                      : Bytes(after) + " after the end record (bytes added to the archive)";
  }
  return "none (the archive is cut off, or is no ZIP archive)";
}

bool ZipDirectory::DirectoryEndsAt(std::uint64_t directorySize, const std::string& record,
                                   ZipFault* fault) {
  if (directoryStart_ <= directoryEnd_ && directoryEnd_ - directoryStart_ == directorySize) {
    return true;
  }
  return Fail(fault, {},
              "the central directory (" + Bytes(directorySize) + " from byte " +
                  std::to_string(directoryStart_) + ") right before " + record,
              record + " at byte " + std::to_string(directoryEnd_));
}

// The ZIP64 end record and its locator, which a writer puts right before the end record when
// a count, size or offset does not fit it. *found: they are there, and their values now hold.
bool ZipDirectory::ReadZip64End(std::uint64_t endAt, bool* found, ZipFault* fault) {
  std::uint8_t locator[kZip64LocatorSize];
  std::uint8_t record[kZip64EndSize];
  std::string error;
  const std::uint64_t locatorAt = endAt - std::min<std::uint64_t>(endAt, kZip64LocatorSize);
  *found = endAt >= kZip64LocatorSize && local_.Read(locatorAt, sizeof locator, locator, &error) &&
           Le32(locator) == kZip64LocatorSignature;
  if (!*found) return true;
  const std::uint64_t recordAt = Le64(locator + 8);
  if (Le32(locator + 4) != 0 || Le32(locator + 16) != 1 || recordAt > locatorAt ||
      locatorAt - recordAt < kZip64EndSize ||
      !local_.Read(recordAt, sizeof record, record, &error) || Le32(record) != kZip64EndSignature ||
      Le64(record + 4) + 12 != locatorAt - recordAt) {
    return Fail(fault, {}, "a ZIP64 end record right before its locator",
                "none at byte " + std::to_string(recordAt));
  }
  entries_ = Le64(record + 32);
  directoryStart_ = Le64(record + 48);
  directoryEnd_ = recordAt;
  if (Le32(record + 16) != 0 || Le32(record + 20) != 0 || Le64(record + 24) != entries_) {
    return Fail(fault, {}, "an archive on one disk", "a ZIP64 end record of a split archive");
  }
  return DirectoryEndsAt(Le64(record + 40), "the ZIP64 end record", fault);
}

ZipDirectory::Step ZipDirectory::Next(ZipEntryInfo* entry, ZipFault* fault) {
  if (read_ == entries_) {
    if (cursor_ != directoryEnd_) {
      Fail(fault, {}, std::to_string(entries_) + " entries filling the central directory",
           Bytes(directoryEnd_ - cursor_) + " after them");
      return Step::Fault;
    }
    if (nextLocal_ != directoryStart_) {
      Fail(fault, {}, "the central directory right after the last entry",
           Bytes(directoryStart_ - nextLocal_) + " that no entry holds before it");
      return Step::Fault;
    }
    return Step::End;
  }
  std::uint16_t flags = 0;
  if (!ReadCentral(entry, &flags, fault) || !HoldAgainstLocal(*entry, flags, fault)) {
    return Step::Fault;
  }
  ++read_;
  return Step::Entry;
}

bool ZipDirectory::ReadCentral(ZipEntryInfo* entry, std::uint16_t* flags, ZipFault* fault) {
  // Spelt out only for a fault: this runs for every entry.
  const auto where = [this] { return "central directory entry " + std::to_string(read_ + 1); };
  std::uint8_t fixed[kCentralSize];
  std::string error;
  if (directoryEnd_ - cursor_ < kCentralSize ||
      !central_.Read(cursor_, sizeof fixed, fixed, &error) || Le32(fixed) != kCentralSignature) {
    return Fail(fault, {}, std::to_string(entries_) + " entries in the central directory",
                "no " + where() + " at byte " + std::to_string(cursor_));
  }
  const std::size_t nameLength = Le16(fixed + 28);
  const std::size_t extraLength = Le16(fixed + 30);
  const std::size_t total = kCentralSize + nameLength + extraLength + Le16(fixed + 32);
  std::string extra;
  if (directoryEnd_ - cursor_ < total ||
      !central_.Read(cursor_ + kCentralSize, nameLength, &entry->name, &error) ||
      !central_.Read(cursor_ + kCentralSize + nameLength, extraLength, &extra, &error)) {
    return Fail(fault, {}, "the " + where() + " inside the central directory",
                "one running past its end");
  }
  cursor_ += total;
  return ReadCentralFields(fixed, extra, entry, flags, fault);
}

// The local header must say what the central one says, and the entry must begin where the
// one before ended: no bytes between entries, none shared.
bool ZipDirectory::HoldAgainstLocal(const ZipEntryInfo& entry, std::uint16_t flags,
                                    ZipFault* fault) {
  const std::string& name = entry.name;
  if (entry.localOffset != nextLocal_) {
    return Fail(fault, name, "its local header at byte " + std::to_string(nextLocal_),
                "the central directory placing it at byte " + std::to_string(entry.localOffset) +
                    (entry.localOffset < nextLocal_ ? ", inside the entry before"
                                                    : ", past bytes no entry holds"));
  }
  LocalHeader local;
  if (!ReadLocal(entry, &local, fault)) return false;
  if (local.name != entry.storedName) {
    return Fail(fault, name, "the same name in the local header",
                "another name there (" + std::to_string(local.name.size()) + " bytes)");
  }
  if (local.flags != flags || local.method != entry.method) {
    return Fail(fault, name, "the flags and method of the central directory in the local header",
                "others");
  }
  // With the sizes after the data, the local header may leave them 0.
  const bool deferred = (flags & kSizesAfterData) != 0;
  const bool open = deferred && local.crc == 0 && local.compressedSize == 0 && local.size == 0;
  if (!open && (local.crc != entry.crc || local.compressedSize != entry.compressedSize ||
                local.size != entry.size)) {
    return Fail(fault, name,
                "the CRC-32 " + Hex32(entry.crc) + " and sizes " +
                    std::to_string(entry.compressedSize) + "/" + std::to_string(entry.size) +
                    " of the central directory in the local header",
                Hex32(local.crc) + " and " + std::to_string(local.compressedSize) + "/" +
                    std::to_string(local.size));
  }
  if (entry.compressedSize > directoryStart_ - local.dataStart) {
    return Fail(fault, name, Bytes(entry.compressedSize) + " of data before the central directory",
                "only " + Bytes(directoryStart_ - local.dataStart) + " left");
  }
  std::uint64_t descriptor = 0;
  const std::uint64_t dataEnd = local.dataStart + entry.compressedSize;
  if (deferred && !CheckDescriptor(entry, dataEnd, local.zip64, &descriptor, fault)) return false;
  nextLocal_ = dataEnd + descriptor;
  return true;
}

bool ZipDirectory::ReadLocal(const ZipEntryInfo& entry, LocalHeader* local, ZipFault* fault) {
  std::uint8_t fixed[kLocalSize];
  std::string error;
  // An offset so large that the sum wraps round cannot be read either.
  if (entry.localOffset + kLocalSize > directoryStart_ ||
      !local_.Read(entry.localOffset, sizeof fixed, fixed, &error) ||
      Le32(fixed) != kLocalSignature) {
    return Fail(fault, entry.name, "a local header at byte " + std::to_string(entry.localOffset),
                "other bytes");
  }
  const std::size_t nameLength = Le16(fixed + 26);
  const std::size_t extraLength = Le16(fixed + 28);
  local->dataStart = entry.localOffset + kLocalSize + nameLength + extraLength;
  std::string extra;
  if (local->dataStart > directoryStart_ ||
      !local_.Read(entry.localOffset + kLocalSize, nameLength, &local->name, &error) ||
      !local_.Read(entry.localOffset + kLocalSize + nameLength, extraLength, &extra, &error)) {
    return Fail(fault, entry.name, "a local header before the central directory",
                "one running into it");
  }
  local->flags = Le16(fixed + 6);
  local->method = Le16(fixed + 8);
  local->crc = Le32(fixed + 14);
  local->compressedSize = Le32(fixed + 18);
  local->size = Le32(fixed + 22);
  std::string problem;
  if (!ReadExtra(extra, local->name, {&local->size, &local->compressedSize, nullptr, nullptr},
                 &local->zip64, nullptr, &problem)) {
    return Fail(fault, entry.name, "a sound local header", problem);
  }
  return true;
}

bool ZipDirectory::CheckDescriptor(const ZipEntryInfo& entry, std::uint64_t at, bool wide,
                                   std::uint64_t* length, ZipFault* fault) {
  std::uint8_t bytes[24] = {};
  std::string error;
  const std::uint64_t room = directoryStart_ - at;
  const std::size_t sizes = wide ? 16 : 8;
  // Fewer than 4 bytes before the central directory read as part of its signature, never a
  // descriptor's.
  const bool signature = local_.Read(at, 4, bytes, &error) && Le32(bytes) == kDescriptorSignature;
  *length = (signature ? 4 : 0) + 4 + sizes;
  if (room < *length || !local_.Read(at, static_cast<std::size_t>(*length), bytes, &error)) {
    return Fail(fault, entry.name, "a data descriptor after the data", "the central directory");
  }
  const std::uint8_t* p = bytes + (signature ? 4 : 0);
  const std::uint64_t compressedSize = wide ? Le64(p + 4) : Le32(p + 4);
  const std::uint64_t size = wide ? Le64(p + 12) : Le32(p + 8);
  if (Le32(p) != entry.crc || compressedSize != entry.compressedSize || size != entry.size) {
    return Fail(fault, entry.name, "the CRC-32 and sizes of the central directory after the data",
                "others in the data descriptor");
  }
  return true;
}

std::string UnsafeEntryName(std::string_view name) {
  if (name.empty()) return "an empty name";
  if (name.front() == '/') return "a name from the root";
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
    return "a name with a drive";
  }
  unsigned char previous = 0;
  for (const char byte : name) {
    const auto c = static_cast<unsigned char>(byte);
    // U+0080 to U+009F are C2 80 to C2 9F; C2 is never a continuation byte.
    const bool c1 = previous == 0xC2 && c >= 0x80 && c <= 0x9F;
    if (c < 0x20 || c == 0x7F || c1) return "a name holding a control character";
    if (c == '\\') return "a name holding a backslash, which Windows takes for a separator";
    previous = c;
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = name.find('/', start);
    const std::string_view level = name.substr(start, slash - start);
    if (level.empty() || level == "." || level == "..") {
      return "a name with an empty, \".\" or \"..\" level";
    }
    if (slash == std::string_view::npos) return {};
    start = slash + 1;
  }
}

}  // namespace uipcheck
