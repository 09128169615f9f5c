// uipcheck against trees packed by the real uippack, ScriptStager, luac and 7-Zip.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <regex>

#include "container/container_format.h"
#include "container/container_operations.h"
#include "tests/package_fixture.h"
#include "uipcheck/report.h"

namespace uippack::testing {
namespace {

// Runs a tool of the build under test in cwd (under Wine the Windows one, uipcheck.exe included);
// the shell splits the arguments at spaces. The rows are written with LF line ends. Natively the
// tool has no standard input, so that the files it opens can be descriptor 0.
ProcessResult Tool(const std::string& name, const std::string& arguments, const fs::path& cwd) {
  const Target& t = TheTarget();
  ProcessResult result = RunProcess(
      {"/bin/sh", "-c", (t.wine ? "exec /usr/bin/wine \"$0\" " : "exec \"$0\" <&- ") + arguments,
       (t.bin / (name + t.exe)).string()},
      cwd, t.wine ? Lines{"LC_ALL=C.UTF-8"} : Lines{});
  for (std::string* text : {&result.out, &result.err})
    *text = std::regex_replace(*text, std::regex("\r\n"), "\n");
  return result;
}

// The row's expectation for the target: on Windows a path's separator is a backslash, doubled
// in JSON.
std::regex Expected(const std::string& line) {
  return std::regex(
      TheTarget().wine ? std::regex_replace(line, std::regex("/"), R"((?:/|\\{1,2}))") : line,
      std::regex::multiline);
}

// What a case does in its temporary directory, before or after packing.
using Step = std::function<void(const fs::path&)>;

Step Write(const std::string& file, const std::string& text = "x") {
  return [=](const fs::path& t) { WriteFile(t / file, text); };
}
Step Remove(const Lines& files) {
  return [=](const fs::path& t) {
    for (const std::string& file : files) fs::remove_all(t / file);
  };
}
// Writes text over the file's bytes from each offset on, counted from its end when negative.
Step Overwrite(const std::string& file, std::initializer_list<long> at, const std::string& text) {
  return [=, offsets = std::vector<long>(at)](const fs::path& t) {
    std::fstream stream(t / file, std::ios::in | std::ios::out);
    for (long from : offsets) stream.seekp(from, from < 0 ? std::ios::end : std::ios::beg) << text;
  };
}
// Incompressible, so the layout archive spans several cycles of the container's block keys
// (at most 960 KiB each), which a streamed read must get right at every boundary.
void Noise(const fs::path& t) {
  std::string noise(2500000, '\0');
  std::uint32_t state = 12345;
  for (char& byte : noise) byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  WriteFile(t / "pkg/layout/images/noise.png", noise);
}
void DeleteFromArchive(const fs::path& t) {
  ASSERT_EQ(Tool("7z", "d out/res/images.zip icons/b.png", t).exitStatus, 0);
}
// Wraps out/res/strings.zip, at the largest block size, into out/layout.uip.
void WrapAnotherArchive(const fs::path& t) {
  const std::wstring zip = Wide(t / "out/res/strings.zip");
  ASSERT_EQ(container::WrapZipToContainer(zip, 15, container::ArchiveAfterWrap::Keep), 1);
  fs::rename(t / "out/res/strings.uip", t / "out/layout.uip");
}
// Rewrites fields of out/layout.uip's header, and its checksum to match the payload they give:
// only the fields changed are wrong.
Step Reheader(const std::function<void(ContainerHeader&)>& change) {
  return [=](const fs::path& t) {
    std::string image = ReadFile(t / "out/layout.uip");
    auto* raw = reinterpret_cast<std::uint8_t*>(image.data());
    ContainerHeader header = LoadContainerHeader(raw);
    change(header);
    header.checksum = PayloadChecksum(raw + header.dataOffset, image.size() - header.dataOffset);
    StoreContainerHeader(header, raw);
    WriteFile(t / "out/layout.uip", image);
  };
}
// Files in out/res that a pack can never hold: each says in its name what it is.
void PlantScripts(const fs::path& t) {
  const std::string head("\x1bLua\x54\x00\x19\x93\r\n\x1a\n", 12);
  WriteFile(t / "out/res/a-empty.lua", "");
  WriteFile(t / "out/res/b-lua53.lua", "\x1bLuaS" + head.substr(5));
  WriteFile(t / "out/res/c-text-mode.lua", head.substr(0, 8) + "\n\x1a\n" + std::string(30, 'x'));
  WriteFile(t / "out/res/d-five.lua", head.substr(0, 5));
  WriteFile(t / "out/res/d-header-only.lua", head + std::string(31 - 12, 'x'));
  WriteFile(t / "out/res/e-sound.lua", head + std::string(32 - 12, 'x'));
}
void ChangeCopies(const fs::path& t) {
  WriteFile(t / "out/nametable.cfg", "home=Hxme\n");
  WriteFile(t / "out/package.cfg", "name=tes\n");
}
void Append(const fs::path& t) { std::ofstream(t / "out/layout.uip", std::ios::app) << "tail!"; }
void MakeFifo(const fs::path& t) { ASSERT_EQ(mkfifo((t / "out/res/pipe").c_str(), 0600), 0); }
// What the copy reads through (links to files and directories, relative and absolute, in and
// below layout and res) and what it leaves out (a dangling link, FIFOs and a link to one, a loop,
// a link to the copy itself, /proc).
void MakeLinks(const fs::path& t) {
  WriteFile(t / "outside/file.txt", "from outside");
  WriteFile(t / "outside/dir/inner.txt", "inner");
  fs::create_symlink("a.png", t / "pkg/res/images/again.png");
  fs::create_symlink(t / "outside/file.txt", t / "pkg/layout/absolute.txt");
  fs::create_symlink(t / "outside/dir", t / "pkg/res/linked");
  fs::create_symlink("screens", t / "pkg/layout/also");
  WriteFile(t / "pkg/docs/a.txt", "a directory entered again by a link in one after it");
  fs::create_symlink("../docs", t / "pkg/res/docs");
  fs::create_symlink("../.svn", t / "pkg/res/images/icons/svn");  // the same inside an archive
  fs::create_symlink(t / "pkg/layout/absolute.txt", t / "pkg/res/chain.txt");
  fs::create_symlink("nowhere", t / "pkg/res/images/dangling");
  fs::create_symlink("loop", t / "pkg/res/images/loop");  // leads to itself
  fs::create_symlink("..", t / "pkg/layout/up");
  fs::create_symlink(".", t / "pkg/res/images/self");
  fs::create_symlink(".", t / "pkg/res/images/icons/again");
  fs::create_symlink("/proc", t / "pkg/res/proc");
  MakeDirs(t / "out");
  fs::create_symlink(t / "out", t / "pkg/res/copy");
  ASSERT_EQ(mkfifo((t / "pkg/res/pipe").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((t / "pkg/layout/pipe").c_str(), 0600), 0);
  fs::create_symlink("../res/pipe", t / "pkg/layout/to-pipe");
}

// The package, with hidden directories (copied as they are, a layout in one archived as it is), a
// name in UTF-8 and an empty resource directory (an archive without entries), packed in mode.
Step Packed(const std::string& mode, const Step& before = {}, const Step& after = {}) {
  return [=](const fs::path& t) {
    MakePackage(t / "pkg");
    WriteFile(t / "pkg/.svn/hidden.lua", "not compiled\n");
    WriteFile(t / "pkg/res/images/.svn/layout/kept.txt", "a hidden layout, archived as it is");
    WriteFile(t / "pkg/res/images/\xE4\xB8\xAD b.txt", "named in UTF-8");
    WriteFile(t / "pkg/res/images/\xC3\x84.txt", "a letter of two bytes");
    MakeDirs(t / "pkg/res/empty");
    if (before) before(t);
    ProcessResult packed = Tool("uippack", "-p pkg out " + mode, t);
    // Under load, Wine now and then fails to start one of the many processes of a pack
    // ("CreateProcess failed!"): such a pack gets one more try there.
    if (TheTarget().wine && packed.exitStatus != 0)
      packed = Tool("uippack", "-p pkg out " + mode, t);
    ASSERT_EQ(packed.exitStatus, 0) << packed.out << packed.err;
    if (after) after(t);
  };
}
Step After(const Step& after) { return Packed("", {}, after); }

TEST(Uipcheck, TellsAPackFromEveryKindOfDifferenceByPath) {
  struct Case {
    const char* name;
    Step setup;  // none: the tree of the case before
    std::string arguments;
    int exitStatus;
    std::string line;                 // a regular expression one line of the output must match
    const char* posixOnly = nullptr;  // what the row needs that a Windows file system cannot hold
  };
  const Step broken = Write("pkg/layout/broken.lua", "local = = 1\n");
  const std::string uip = "^out/layout.uip: expected ";
  const std::string one = "\nuipcheck: out is not consistent: 1 difference ";
  const std::string blockSize = uip + "a block size of 256 to 3840 in steps of 256, found ";
  const Case cases[] = {
      {"clean, the mode inferred", Packed("", Noise), "pkg out", 0,
       R"(^uipcheck: out is the pack of pkg \(15 files and 4 archives checked, 5.0 MB read; )"
       R"(mode "" \(layout.uip and layout.zip\), inferred from out/layout.uip\)$)"},
      {"clean, destination alone", nullptr, "out", 0, "^uipcheck: out is consistent"},
      {"clean, as JSON", nullptr, "--json pkg out", 0,
       R"(^\{"source":"pkg","destination":"out","differences":\[\],"verdict":"match",)"},
      {"source that is no package", nullptr, "out pkg", 2, "not a package"},
      {"- as no directory", nullptr, "pkg -", 2, "^uipcheck: - is not a directory "},
      {"bad usage", nullptr, "--bogus out", 2, "^usage: uipcheck"},
      {"three paths", nullptr, "pkg out out", 2, "^usage: uipcheck"},
      {"one tree twice", nullptr, "pkg pkg/", 2, "are the same tree or one lies inside the other"},
      {"version", nullptr, "--version", 0, "^uipcheck " UIPPACK_VERSION "$"},
      {"a mode without its value", nullptr, "out --mode", 2, "--mode needs a value"},
      {"the mode stated", nullptr, "--mode '' pkg out", 0, R"(; mode "" .*, as stated\)$)"},
      {"another mode stated", nullptr, "--mode=-uip out", 1,
       "^out/layout.zip: expected nothing \\(a layout archive this mode does not make"},
      {"clean, container only", Packed("-uip", Noise), "--mode -UIP pkg out", 0,
       R"(is the pack of pkg .*mode "-UIP" \(layout.uip alone\), as stated)"},
      {"clean, archive only", Packed("zip"), "pkg out", 0,
       R"(is the pack of pkg .*a mode other than "" and "-uip" \(layout.zip alone\), inferred)"},
      {"a container this mode does not make", Packed("zip", {}, WrapAnotherArchive),
       "--mode zip pkg out", 1,
       uip + "nothing \\(a container this mode .*\\), found file\nuipcheck: .*: 1 difference "},
      {"the same, the mode inferred from it", nullptr, "pkg out", 1,
       uip + "the wrap of out/layout.zip.*\nuipcheck: out is not the pack of pkg: 1 difference "},
      {"mixed modes", Packed("", Write("pkg/sub/layout/a.txt"), Remove({"out/sub/layout.zip"})),
       "pkg out", 1,
       R"(^out/sub/layout.zip: expected layout.zip \(from pkg/sub/layout\) in mode "" )"},
      {"rejected script shipped as source", Packed("", broken), "pkg out", 1,
       "^out/layout.zip:broken.lua: expected Lua 5.4 bytecode, found .*not bytecode"},
      {"rejected script inside the container", Packed("-uip", broken), "out", 1,
       "^out/layout.uip:broken.lua: expected Lua 5.4 bytecode"},
      {"resource archive missing a file", After(DeleteFromArchive), "pkg out", 1,
       "^out/res/images.zip:icons/b.png: expected a file \\(from pkg/res/images/icons/"},
      {"stale file after repacking into the old destination",
       After(Packed("", Remove({"pkg/res/images/a.png"}))), "pkg out", 1,
       "^out/res/images.zip:a.png: expected nothing, found file .*\nuipcheck: .*\\(13 files "},
      // Its length as its header says: no note on the length.
      {"a container's end overwritten", After(Overwrite("out/layout.uip", {-5}, "tail!")), "out", 1,
       uip + "the checksum .*, found .* over its [0-9]+ bytes of stored data" + one},
      // Damaged in its first and last block key cycles: the first difference is the one given.
      {"a damaged layout archive, its wrap intact",
       Packed("", Noise, Overwrite("out/layout.zip", {0, -5}, "X")), "out", 1,
       uip + "the wrap of out/layout.zip .*, the first difference at byte 0\\)"},
      {"leftover layout directory", After(Write("out/layout/main.lua")), "pkg out", 1,
       "^out/layout: expected nothing \\(packed into layout.uip or layout.zip\\), found directory"},
      {"a directory, a copy and a resource archive missing",
       After(Remove({"out/.svn", "out/nametable.cfg", "out/res/strings.zip"})), "pkg out", 1,
       "^out/.svn: expected a directory \\(from pkg/.svn\\), found nothing\nout/nametable.cfg: "
       "expected a file \\(from pkg/nametable.cfg\\), found nothing\n(.*\n)*out/res/strings.zip: "
       "expected the archive of pkg/res/strings, found nothing"},
      {"a source file where packing writes an archive", After(Write("pkg/res/images.zip")),
       "pkg out", 1,
       "^pkg/res/images.zip: expected no file where packing writes an archive, found"},
      {"extra file", After(Write("out/extra.txt")), "pkg out", 1,
       "^out/extra.txt: expected nothing, found file"},
      {"the destination named with a trailing slash", nullptr, "pkg out/", 1,
       "^out/extra.txt: expected nothing, found file"},
      {"extra file, as JSON", nullptr, "--json pkg out", 1,
       R"(^\{"source":"pkg","destination":"out","differences":\[\n\{"path":"out/extra.txt",)"
       R"("expected":"nothing","found":"file[^\n]*\}\n\],"verdict":"differ","mode":\{"option":)"
       R"(null,.*"checked":\{"files":[1-9][0-9]*,"archives":[1-9][0-9]*,"bytes":[0-9]+\}\}$)"},
      {"a block size of 100", After(Reheader([](ContainerHeader& h) { h.blockSize = 100; })), "out",
       1, blockSize + "block size 100 in the header" + one},
      {"a block size past 3840 whose factor wraps round to 1",
       Packed("-uip", {}, Reheader([](ContainerHeader& h) {
                h.blockSize += 256 * 256;
                h.blockCount = (h.payloadSize + h.blockSize - 1) / h.blockSize;
              })),
       "out", 1, blockSize + "block size [0-9]+ in the header" + one},
      // A version's second byte, then the tag alone.
      {"a version no wrap writes",
       Packed("-uip", {}, Reheader([](ContainerHeader& h) { h.version = 0x0201; })), "out", 1,
       uip + "the version and tag a wrap writes, found others in the header" + one},
      {"a tag no wrap writes", After(Reheader([](ContainerHeader& h) { h.tag[0] ^= 1; })), "out", 1,
       uip + "the version and tag a wrap writes, found others in the header" + one},
      {"a payload short of the data",
       Packed("-uip", {}, Reheader([](ContainerHeader& h) { h.payloadSize -= 1; })), "out", 1,
       uip + "[0-9]+ bytes as its header says, found [0-9]+ bytes" + one},
      {"a block count that does not fit",
       Packed("-uip", {}, Reheader([](ContainerHeader& h) { h.blockCount += 1; })), "out", 1,
       uip + "[0-9]+ blocks for [0-9]+ bytes, found [0-9]+ in the header" + one},
      {"the archive elsewhere", Packed("-uip", {}, Reheader([](ContainerHeader& h) {
                                         h.dataOffset -= 1;
                                         h.payloadSize += 1;
                                       })),
       "out", 1, uip + "the archive at offset 104, found offset 103 in the header" + one},
      {"scripts that are no Lua 5.4 bytecode", After(PlantScripts), "out", 1,
       "^out/res/a-empty.lua: expected Lua 5.4 bytecode, found an empty file\n"
       "out/res/b-lua53.lua: expected Lua 5.4 bytecode, found Lua bytecode of another version\n"
       "out/res/c-text-mode.lua: expected Lua 5.4 bytecode, found damaged Lua bytecode\n"
       "out/res/d-five.lua: expected Lua 5.4 bytecode, found damaged Lua bytecode\n"
       "out/res/d-header-only.lua: expected Lua 5.4 bytecode, found damaged Lua bytecode\n"
       "uipcheck: out is not consistent: 5 differences"},
      {"copies changed", After(ChangeCopies), "pkg out", 1,
       "^out/nametable.cfg: expected a copy of pkg/nametable.cfg, found other bytes from byte 6\n"
       "out/package.cfg: expected a copy of pkg/package.cfg \\(10 bytes\\), found 9 bytes\n"
       "uipcheck: out is not the pack of pkg: 2 differences"},
      {"a container shorter than its header", After(Write("out/layout.uip", std::string(50, 'x'))),
       "out", 1, uip + "a container \\(a 104-byte .*, found 50 bytes, shorter .*" + one},
      {"a container of its header alone",
       After([](const fs::path& t) { fs::resize_file(t / "out/layout.uip", 104); }), "out", 1,
       uip + "the checksum .*, found 0x00000000 over its 0 bytes .* is [0-9]+ bytes shorter"},
      {"bytes appended to the container", After(Append), "out", 1,
       uip + "the checksum .* the file is 5 bytes longer than its header says .*" + one},
      {"a container of x's", After(Write("out/layout.uip", std::string(200, 'x'))), "pkg out", 1,
       uip + "a container \\(the magic QMARCHIVE\\), found other bytes\n.*1 difference "},
      {"a FIFO is reported, never waited on", After(MakeFifo), "out", 1,
       "^out/res/pipe: expected a file or a directory, found special file, not followed", "a FIFO"},
      {"a directory where a container belongs", After(Write("out/res/layout.uip/x")), "out", 1,
       "^out/res/layout.uip: expected a file \\(packing makes it .*\\), found directory"},
      {"links read through, what the copy leaves out absent", Packed("", MakeLinks), "pkg out", 0,
       "^uipcheck: out is the pack of pkg", "links and FIFOs"},
      {"a link in the destination", After([](const fs::path& t) {
         fs::remove(t / "out/res/loose.txt");
         fs::create_symlink("../nametable.cfg", t / "out/res/loose.txt");
       }),
       "pkg out", 1, "^out/res/loose.txt: expected file, found symbolic link", "a link"},
      {"a name ending in a letter of three bytes",
       After(Write("out/extra-\xF4\x8F\xBF\xBF\xE4\xB8\xAD")), "--json pkg out", 1,
       "\"path\":\"out/extra-\xF4\x8F\xBF\xBF\xE4\xB8\xAD\""},
      {"a name of bytes that are not UTF-8",
       After(Write("out/y\x80\x90\x80\x80\x81\x80\x80\xC3(\xE0\x81\x81\xED\xA0\x80")), "pkg out", 1,
       R"(^out/y\\x80\\x90\\x80\\x80\\x81\\x80\\x80\\xc3\(\\xe0\\x81\\x81\\xed\\xa0\\x80: )"
       "expected nothing, found file",
       "a name of bytes"},
      {"a name that would print a verdict of its own",
       After(Write("out/x\nuipcheck: out is the pack of pkg")), "pkg out", 1,
       R"(^out/x\\x0auipcheck: out is the pack of pkg: expected nothing, found file)",
       "a line end"},
  };
  std::optional<TempDir> temp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (TheTarget().wine && c.posixOnly != nullptr) continue;
    if (c.setup) c.setup(temp.emplace().path());
    const ProcessResult result = Tool("uipcheck", c.arguments, temp->path());
    const std::string output = result.out + result.err;
    EXPECT_EQ(result.exitStatus, c.exitStatus) << output;
    EXPECT_TRUE(std::regex_search(output, Expected(c.line))) << output;
  }
}

// A stored ZIP archive as 7-Zip writes one, built byte by byte so that a row can plant the
// fault it is about.
struct StoredEntry {
  std::string name;
  std::string data;
  std::uint32_t crc = 0;   // in both headers
  std::uint32_t size = 0;  // both sizes in both headers
  std::string localName;
  bool sizesAfterData = false;  // in a data descriptor, the local header's left 0
  std::string extra;            // in both headers
  std::uint16_t flags = 0;
  std::uint16_t method = 0;     // 8: data is deflated, plainSize bytes before
  std::uint32_t plainSize = 0;  // with method 8
  std::uint32_t unixMode = 0;   // the type and permissions a Unix writer records
};
StoredEntry Stored(const std::string& name, const std::string& data) {
  StoredEntry e;
  e.name = e.localName = name;
  e.data = data;
  e.size = static_cast<std::uint32_t>(data.size());
  e.crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), e.size));
  return e;
}
std::string Le(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(i < 8 ? value >> (8 * i) & 0xFF : 0);
  return out;
}
std::string EndRecord(std::size_t entries, std::size_t size, std::size_t offset) {
  return "PK\5\6" + Le(0, 4) + Le(entries, 2) + Le(entries, 2) + Le(size, 4) + Le(offset, 4) +
         Le(0, 2);
}
// The end records a writer adds past 65,535 entries; skew misstates the directory's size.
std::string Zip64End(std::size_t entries, std::size_t size, std::size_t offset, int skew) {
  return "PK\6\6" + Le(44, 8) + Le(45, 2) + Le(45, 2) + Le(0, 8) + Le(entries, 8) + Le(entries, 8) +
         Le(size + skew, 8) + Le(offset, 8) + "PK\6\7" + Le(0, 4) + Le(offset + size, 8) +
         Le(1, 4) + "PK\5\6" + Le(0, 4) + Le(0xFFFF, 2) + Le(0xFFFF, 2) + Le(0xFFFFFFFF, 4) +
         Le(0xFFFFFFFF, 4) + Le(0, 2);
}
// Appends e's local entry to local and its central one to central.
void AddEntry(const StoredEntry& e, std::string& local, std::string& central) {
  const std::string sizes =
      Le(e.crc, 4) + Le(e.size, 4) + Le(e.method == 8 ? e.plainSize : e.size, 4);
  const std::string flags =
      Le(e.flags | (e.sizesAfterData ? 8 : 0), 2) + Le(e.method, 2) + Le(0, 4);
  const std::string lengths = Le(e.extra.size(), 2);
  central += "PK\1\2" + Le(0x33F, 2) + Le(10, 2) + flags + sizes + Le(e.name.size(), 2) + lengths +
             Le(0, 6) + Le(std::uint64_t{e.unixMode} << 16, 4) + Le(local.size(), 4) + e.name +
             e.extra;
  local += "PK\3\4" + Le(10, 2) + flags + (e.sizesAfterData ? Le(0, 12) : sizes) +
           Le(e.localName.size(), 2) + lengths + e.localName + e.extra + e.data;
  // A ZIP64 block makes the descriptor's sizes 8 bytes each.
  const bool wide = e.size == 0xFFFFFFFF;
  if (e.sizesAfterData) {
    local += "PK\7\x08" + Le(e.crc, 4) +
             (wide ? Le(e.data.size(), 8) + Le(e.data.size(), 8) : sizes.substr(4));
  }
}

// before: bytes ahead of the first entry, which the central directory's offsets skip;
// zip64Skew: with ZIP64 end records, misstating the directory's size by this much.
std::string Zip(const std::vector<StoredEntry>& entries, const std::string& before = {},
                std::optional<int> zip64Skew = std::nullopt) {
  std::string local = before;
  std::string central;
  for (const StoredEntry& e : entries) AddEntry(e, local, central);
  return local + central +
         (zip64Skew ? Zip64End(entries.size(), central.size(), local.size(), *zip64Skew)
                    : EndRecord(entries.size(), central.size(), local.size()));
}
// data deflated, and then trailing bytes inside the size the headers give.
StoredEntry Deflated(const std::string& name, const std::string& data, const std::string& trail) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
           data.size());
  StoredEntry e = Stored(name, data);
  e.data = out.substr(2, size - 6) + trail;  // the raw stream, without zlib's header and trailer
  e.size = static_cast<std::uint32_t>(e.data.size());
  e.method = 8;
  e.plainSize = static_cast<std::uint32_t>(data.size());
  return e;
}
// The archive with the bytes at offset replaced.
std::string Patched(std::string archive, std::size_t offset, const std::string& bytes) {
  return archive.replace(offset, bytes.size(), bytes);
}
// Sizes left to a ZIP64 block in both headers: size and compressed size, 8 bytes each, then
// diskBytes of a disk number 0.
void Zip64Sizes(StoredEntry& e, int diskBytes = 0) {
  e.extra = Le(1, 2) + Le(16 + diskBytes, 2) + Le(e.size, 8) + Le(e.size, 8) + Le(0, diskBytes);
  e.size = 0xFFFFFFFF;
}

TEST(Uipcheck, PassesNoArchiveThatReadsTwoWaysOrIsDamaged) {
  const StoredEntry en = Stored("en.txt", "hello=Hello\n");
  const std::string genuine = Zip({en});
  auto with = [&](auto change) {
    StoredEntry e = en;
    change(e);
    return Zip({e});
  };
  auto andAlso = [&](const std::string& name) { return Zip({en, Stored(name, "x")}); };
  // An entry whose header names it header, with a Unicode path block of version naming it en.txt.
  auto unicode = [&](const std::string& header, const char* version) {
    StoredEntry e = Stored(header, en.data);
    const auto headerCrc = crc32(0, reinterpret_cast<const Bytef*>(header.data()), 6);
    e.extra = Le(0x7075, 2) + Le(11, 2) + version + Le(headerCrc, 4) + "en.txt";
    return Zip({e});
  };
  const std::string zip64 = Zip({en}, {}, 0), pass = "^uipcheck: out is the pack of pkg";
  const std::string deferred = with([](StoredEntry& e) { e.sizesAfterData = true; });
  const std::string archive = "^out/res/strings.zip: expected ";
  const std::string entry = "^out/res/strings.zip:en.txt: expected ";
  const std::string agrees = "expected an end record that agrees with its ZIP64 end record";
  const std::string split64 = "found a ZIP64 end record of a split archive";
  const std::string no64 = "a ZIP64 end record right before its locator, found none at byte 100";
  struct Case {
    const char* name;
    std::string archive;  // out/res/strings.zip
    std::string arguments;
    int sevenZipTest;  // what `7zz t` says of it, -1 where it does not matter
    std::string line;
  };
  const Case cases[] = {
      {"the sizes after the data", deferred, "pkg out", 0, pass},
      {"the CRC-32 after the data disagreeing", Patched(deferred, 52, Le(0, 4)), "out", -1,
       entry + "the CRC-32 and sizes of the central directory after "},
      {"the compressed size after the data disagreeing", Patched(deferred, 56, Le(13, 4)), "out",
       -1, entry + "the CRC-32 and sizes of the central directory after "},
      {"ZIP64 end records", zip64, "pkg out", 0, pass},
      {"sizes in a ZIP64 block", with([](auto& e) { Zip64Sizes(e); }), "pkg out", 0, pass},
      {"sizes in a ZIP64 block and after the data", with([](StoredEntry& e) {
         Zip64Sizes(e);
         e.sizesAfterData = true;
       }),
       "pkg out", 0, pass},
      {"a ZIP64 block short of the sizes", with([](StoredEntry& e) {
         Zip64Sizes(e);
         e.extra = Le(1, 2) + Le(8, 2) + e.extra.substr(4, 8);
       }),
       "out", -1, "found a ZIP64 block without the sizes its entry leaves to it"},
      {"an end record of another count", Patched(zip64, 184, Le(0xFF02FF02, 4)), "out", -1,
       agrees + ", found another count"},
      {"an end record giving the count, size and offset beside ZIP64",
       Patched(zip64, 184, Le(1, 2) + Le(1, 2) + Le(52, 4) + Le(48, 4)), "pkg out", 0, pass},
      {"an end record misstating its size", Patched(zip64, 188, Le(53, 4)), "out", -1, agrees},
      {"an end record misstating its offset", Patched(zip64, 192, Le(1, 4)), "out", -1, agrees},
      {"a ZIP64 end record misstating the directory", Zip({en}, {}, 1), "out", -1,
       archive + "the central directory .* right before the ZIP64 end"},
      {"the fields at their limit without ZIP64", Patched(genuine, 108, Le(0xFFFFFFFF, 4)), "out",
       -1, "expected a ZIP64 end record for the fields at their limit, found none"},
      {"a directory size at its limit without ZIP64", Patched(genuine, 112, Le(0xFFFFFFFF, 4)),
       "out", -1, "expected a ZIP64 end record for the fields at their limit, found none"},
      {"a split archive", Patched(genuine, 104, Le(1, 2)), "out", -1,
       archive + "an archive on one disk"},
      {"entries on another disk", Patched(genuine, 108, Le(2, 2)), "out", -1,
       archive + "an archive on one disk"},
      {"a ZIP64 end record of another disk", Patched(zip64, 116, "\1"), "out", -1, split64},
      {"a ZIP64 directory on another disk", Patched(zip64, 120, "\1"), "out", -1, split64},
      {"a ZIP64 end record of another signature", Patched(zip64, 100, "X"), "out", -1, no64},
      {"a ZIP64 end record of another length", Patched(zip64, 104, "\1"), "out", -1, no64},
      {"a ZIP64 locator of another disk", Patched(zip64, 160, "\1"), "out", -1, no64},
      {"a ZIP64 locator of two disks", Patched(zip64, 172, "\2"), "out", -1, no64},
      {"a disk in a ZIP64 block", Patched(with([](auto& e) { Zip64Sizes(e, 4); }), 106, "\xff\xff"),
       "pkg out", 0, pass},
      {"an entry's disk left to a ZIP64 block lacking it",
       Patched(with([](auto& e) { Zip64Sizes(e); }), 68 + 34, "\xff\xff"), "out", -1,
       "found a ZIP64 block without the disk its entry leaves to it"},
      {"an empty file", "", "out", -1, "closing the archive, found an empty file"},
      {"more entries than the directory holds", Patched(genuine, 108, Le(3, 2) + Le(3, 2)), "out",
       -1, archive + "3 entries in the central directory, found room for "},
      {"a directory elsewhere", Patched(genuine, 116, Le(0, 4)), "out", -1,
       archive + R"(the central directory \(52 bytes from byte 0\) right )"},
      {"an entry short in the directory",
       genuine.substr(0, 100) + genuine.substr(48, 46) + EndRecord(2, 98, 48), "out", -1,
       archive + "the central directory entry 2 inside the central directory, found one running"},
      {"bytes left in the directory", genuine.substr(0, 100) + "junk" + EndRecord(1, 56, 48), "out",
       -1, archive + "1 entries filling the central directory, found 4 bytes "},
      {"an entry on another disk", Patched(genuine, 48 + 34, Le(1, 2)), "out", -1,
       entry + "an entry on the archive's one disk"},
      {"a link no reader can take", with([](StoredEntry& e) {
         e.method = 1;  // a link by its 'xl' block (bitmap 5: made on Unix, external attributes)
         e.extra = Le(0x6c78, 2) + Le(7, 2) + Le(5, 1) + Le(0x300, 2) + Le(0120777u << 16, 4);
       }),
       "pkg out", -1, entry + "a readable entry, found Unsupported.*\n.*: 1 difference "},
      // The descriptor's 4-byte signature cut out, and the directory's offset moved back by 4.
      {"a descriptor without its signature, which libarchive cannot read",
       Patched(deferred.substr(0, 48) + deferred.substr(52), deferred.size() - 10, Le(60, 4)),
       "out", 0, archive + "a readable ZIP archive, found damage"},
      {"an encrypted entry", with([](StoredEntry& e) { e.flags = 1; }), "out", -1,
       entry + "an entry anyone can read, found an encrypted"},
      {"another method in the local header", Patched(genuine, 8, Le(8, 2)), "out", 2,
       entry + "the flags and method of the central directory"},
      {"an extra field ending inside a block", with([](StoredEntry& e) { e.extra = "\x01"; }),
       "out", -1, "found extra fields that end inside a block header"},
      {"an extra block too long", with([](StoredEntry& e) { e.extra = Le(0x5455, 2) + Le(9, 2); }),
       "out", -1, "found an extra block longer than the extra field"},
      // The header holds the name as a code page has it; readers show the block's name.
      {"a Unicode path naming the entry", unicode("?n.txt", "\x01"), "pkg out", 0, pass},
      {"a Unicode path block of another version", unicode("en.txt", "\x02"), "out", -1,
       "a Unicode path extra block that does not belong to the name in the header"},
      {"a Unicode path of another name",
       with([](StoredEntry& e) { e.extra = Le(0x7075, 2) + Le(1, 2) + "\x01"; }), "out", -1,
       "a Unicode path extra block that does not belong to the name in the header"},
      {"an entry short of its source", Zip({Stored("en.txt", "hello=Hello")}), "pkg out", 0,
       entry + R"(the bytes of pkg/res/strings/en.txt \(12 bytes\), found 11 bytes, .* byte 11)"},
      {"an entry longer than its source", Zip({Stored("en.txt", "hello=Hello\n!")}), "pkg out", 0,
       entry + R"(the bytes of pkg/res/strings/en.txt \(12 bytes\), found 13 bytes, .* byte 12)"},
      {"a directory where the source has a file", Zip({Stored("en.txt/", "")}), "pkg out", 0,
       entry + "a file, found directory"},
      {"compressed in a resource archive", Zip({Deflated("en.txt", "hello=Hello\n", "")}),
       "pkg out", -1, entry + "stored without compression, found "},
      {"bytes after the deflated data", Zip({Deflated("en.txt", "hello=Hello\n", "JUNK")}), "out",
       -1, entry + "intact data, found ZIP compressed data is wrong size"},
      {"a wrong CRC-32 in both headers", with([](StoredEntry& e) { e.crc ^= 1; }), "out", 2,
       entry + "data of the CRC-32 0x[0-9A-F]{8} the archive lists"},
      {"cut by a byte", genuine.substr(0, genuine.size() - 1), "out", 2,
       archive + "an end record closing the archive, found none"},
      {"a comment announced, not there", Patched(genuine, genuine.size() - 2, Le(5, 2)), "out", -1,
       "found an end record announcing a comment that is not there"},
      {"bytes after the end", genuine + "tail", "out", -1,
       archive + "an end record closing the archive, found 4 bytes after "},
      {"a comment", genuine.substr(0, genuine.size() - 2) + Le(2, 2) + "hi", "out", 0,
       "found an archive comment of 2 bytes"},
      {"another local name", with([](StoredEntry& e) { e.localName = "xx.txt"; }), "out", -1,
       entry + "the same name in the local header"},
      {"another CRC-32 in the local header", Patched(genuine, 14, Le(0, 4)), "out", -1,
       entry + "the CRC-32 0x[0-9A-F]{8} and sizes 12/12 .*, found 0x[0-9A-F]{8} and 12/12"},
      {"a local header left 0 without sizes after the data", Patched(genuine, 14, Le(0, 12)), "out",
       -1, entry + "the CRC-32 .* in the local header, found 0x00000000 and 0/0"},
      {"sizes the data does not have", with([](StoredEntry& e) { e.size += 1; }), "out", 2,
       entry + "13 bytes of data before the central directory"},
      {"entries, an empty end record, then the archive",
       Zip({en}, Zip({Stored("en.txt", "hello=Evil!\n")}).substr(0, 48) + EndRecord(0, 0, 0)),
       "pkg out", -1, entry + "its local header at byte 0, found "},
      {"an entry the directory does not list",
       genuine.substr(0, 48) + Zip({Stored("zz.txt", "x")}).substr(0, 37) + genuine.substr(48, 52) +
           EndRecord(1, 52, 85),
       "out", -1, archive + "the central directory right after the last "},
      {"a step out, a name from the root, a level '.'",
       Zip({en, Stored("../e", ""), Stored("/etc/a", ""), Stored("a/./b", "")}), "pkg out", -1,
       R"(:../e: expected a name that stays inside its directory.*\n.*:/etc/a: .*\n.*:a/./b: )"},
      {"drives A to Z",
       Zip({en, Stored("a:", ""), Stored("z:2", ""), Stored("A:3", ""), Stored("Z:4", ""),
            Stored("@:5", ""), Stored("[:6", "")}),
       "out", -1, R"(:a:: .*drive\n.*:z:2: .*drive\n.*:A:3: .*drive\n.*:Z:4: .*drive\nuipcheck: )"},
      {"a control character", andAlso("\xc3\x84\x1b]0;x\x07.txt"), "out", -1,
       R"(^out/res/strings.zip:\xc3\x84\\x1b\]0;x\\x07.txt: expected .*, found a name holding a)"},
      {"C1 control characters", Zip({en, Stored("b\xc2\xa0\xc2\x80", ""), Stored("c\xc2\x9f", "")}),
       "out", -1, R"(:b\xc2\xa0\\u0080: .*holding a control.*\n.*:c\\u009f: .*holding a)"},
      {"control characters, as JSON", andAlso("a\"\x7f\xc2\x80\xc2\x9f.txt"), "--json out", -1,
       R"("path":"out/res/strings.zip:a\\"\\u007f\\u0080\\u009f.txt")"},
      {"a link in place of a file", with([](StoredEntry& e) { e.unixMode = 0120777; }), "out", -1,
       entry + "a regular file, found another kind of entry by its Unix mode"},
      {"twice the same name", andAlso("en.txt"), "out", -1,
       entry + "one entry of this name, found another one"},
      {"twice the same name, against the source", andAlso("en.txt"), "pkg out", -1,
       entry + "one entry of this name, found another one\n.*: 1 difference \\(14 files"},
  };
  TempDir temp;
  Packed("")(temp.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(temp / "out/res/strings.zip", c.archive);
    const auto tested = RunProcess({"/usr/bin/7zz", "t", "out/res/strings.zip"}, temp.path());
    EXPECT_TRUE(c.sevenZipTest < 0 || tested.exitStatus == c.sevenZipTest) << tested.out;
    const ProcessResult result = Tool("uipcheck", c.arguments, temp.path());
    const std::string output = result.out + result.err;
    EXPECT_EQ(result.exitStatus, c.line[1] == 'u' ? 0 : 1) << output;
    EXPECT_TRUE(std::regex_search(output, Expected(c.line))) << output;
  }
}

TEST(Uipcheck, ManyDifferencesTakeNoMoreMemoryAndAReaderGoneEndsNoCheck) {
  if (TheTarget().wine) GTEST_SKIP() << "measures a POSIX process";
  TempDir temp;
  Packed("", Write("pkg/docs/a.txt"))(temp.path());
  // What another user cannot read, in either tree, is said as such, and ends no check: the
  // archive entry of an unreadable source file is still read whole.
  if (geteuid() == 0) {
    chmod(temp.path().c_str(), 0755);
    for (const char* locked : {"pkg/res/images/icons", "pkg/res/strings/en.txt", "out/layout.zip",
                               "out/.svn", "out/nametable.cfg", "pkg/package.cfg", "pkg/docs"})
      chmod((temp / locked).c_str(), 0);
    Overwrite("out/res/strings.zip", {36}, "J")(temp.path());
    const ProcessResult other =
        RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                    (BinDir() / "uipcheck").string(), "pkg", "out"},
                   temp.path());
    EXPECT_EQ(other.exitStatus, 2);
    EXPECT_TRUE(std::regex_search(
        other.out + other.err,
        std::regex("^out/nametable.cfg: expected a readable entry, found an error: "
                   ".*\npkg/package.cfg: .*\nout/layout.zip: .*\n"
                   "out/.svn: expected a readable .*\npkg/docs: .*\npkg/res/images/icons: .*\n"
                   "pkg/res/strings/en.txt: expected a readable .*\nout/res/strings.zip:"
                   "en.txt: expected data of the CRC-32 .*\nuipcheck: out could not be checked "
                   "against pkg: 7 unreadable entries, 1 difference")))
        << other.out + other.err;
  }
  std::vector<StoredEntry> stray(60000);
  for (std::size_t i = 0; i < stray.size(); ++i) stray[i] = Stored("s/" + std::to_string(i), "");
  WriteFile(temp / "out/res/strings.zip", Zip(stray));
  // Each of the 60,000 lines held until its archive is done would take some 25 MiB. (The
  // address sanitizer's own memory would hide that.)
#if !defined(__SANITIZE_ADDRESS__)
  // The peak RSS in KiB as bench/measure_run takes it: from the wait for a process it started
  // itself, whose size before the start is measure_run's own, not the test's.
  const ProcessResult measured = RunProcess(
      {(BinDir().parent_path() / "bench/measure_run").string(), (temp / "check.log").string(),
       (BinDir() / "uipcheck").string(), "--json", "pkg", "out"},
      temp.path());
  std::smatch peak;
  EXPECT_TRUE(std::regex_search(measured.out, peak, std::regex("peak_rss_kib ([0-9]+)")) &&
              std::stol(peak[1]) < 16 * 1024)
      << measured.out;
#endif
  // A reader that has gone away takes the lines, not the verdict.
  const ProcessResult piped =
      RunProcess({"/bin/sh", "-c", R"({ sleep 0.3; "$0" pkg out; echo "status $?" >&2; } | true)",
                  (BinDir() / "uipcheck").string()},
                 temp.path());
  EXPECT_EQ(piped.err, "status 1\n");
}

// A terminal's progress line: never before its delay nor again within its interval, and wiped
// at the end.
TEST(Uipcheck, DrawsProgressWhenDueAndWipesIt) {
  using uipcheck::OutputFormat, uipcheck::Report;
  ::testing::internal::CaptureStderr();
  Report(OutputFormat::Text, true, {}, "out", std::chrono::hours(1)).ShowProgress();
  Report(OutputFormat::Text, false, {}, "out", {}).ShowProgress();
  Report report(OutputFormat::Text, true, {}, "out", {});
  uipcheck::Findings& part = report.Open();
  part.CountArchive();
  report.ShowProgress();
  report.ShowProgress();
  report.Complete(part);
  report.Finish("", "");
  const std::string line = "uipcheck: 0 files, 1 archive, 0.0 MB read";
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
}

}  // namespace
}  // namespace uippack::testing
