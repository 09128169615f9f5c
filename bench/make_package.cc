// Deterministic generators of large inputs for the pipeline and walk benchmarks.
//
//   make_package package DIR [--seed N] [--scale F]
//   make_package walk-tree DIR --entries N [--seed N]
//
// "package" writes a realistic UI package into DIR (which must not exist): a main `layout`
// directory and three skin `layout` directories holding about 2,000 Lua 5.4 scripts in nested
// directories with some layout descriptors and images; one `res` directory with 200
// subdirectories holding about 20,000 small files and some large images (incompressible bytes);
// nametable.cfg and package.cfg. About 200 MB at scale 1. The same seed gives the same bytes,
// on every machine: the random numbers come from a fixed generator, not from <random>.
//
// "walk-tree" writes a package-shaped tree of N entries (directories and empty files, with
// scripts, layout directories, containers and archives among them) for timing the walks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "make_package: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(2);
}

// SplitMix64: small, fast, and the same sequence everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [low, high]; the tiny modulo bias does not matter here.
  std::size_t Between(std::size_t low, std::size_t high) {
    return low + static_cast<std::size_t>(Next() % (high - low + 1));
  }
  bool Chance(unsigned percent) { return Next() % 100 < percent; }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Next() % N];
  }

 private:
  std::uint64_t state_;
};

struct Totals {
  std::size_t files = 0;
  std::size_t directories = 0;
  std::size_t scripts = 0;
  std::size_t bytes = 0;
};
Totals totals;

// True when the directory was made, false when it was there already.
bool MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) {
    ++totals.directories;
    return true;
  }
  if (errno != EEXIST) Fail("mkdir " + path);
  return false;
}

void WriteBytes(const std::string& path, const std::string& content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("create " + path);
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n <= 0) Fail("write " + path);
    written += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) Fail("close " + path);
  ++totals.files;
  totals.bytes += content.size();
}

std::string RandomBytes(Random& random, std::size_t size) {
  std::string bytes(size, '\0');
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const std::uint64_t word = random.Next();
    std::memcpy(&bytes[i], &word, 8);
  }
  for (; i < size; ++i) bytes[i] = static_cast<char>(random.Next());
  return bytes;
}

// An image: a PNG signature in front of incompressible bytes.
std::string ImageBytes(Random& random, std::size_t size) {
  std::string image("\x89PNG\r\n\x1a\n", 8);
  image += RandomBytes(random, size > 8 ? size - 8 : 0);
  return image;
}

const char* const kWords[] = {"panel",  "button", "label", "list",   "grid",   "icon",
                              "header", "footer", "menu",  "dialog", "slider", "toggle",
                              "tab",    "badge",  "card",  "banner", "popup",  "toast"};
const char* const kGroups[] = {"screens", "widgets", "dialogs", "hud",      "shop",
                               "social",  "battle",  "profile", "settings", "common"};
const char* const kResourceKinds[] = {"icons",   "images", "fonts",   "sounds", "anims",
                                      "strings", "atlas",  "effects", "ui",     "maps"};
const char* const kFields[] = {"x", "y", "width", "height", "alpha", "scale", "order", "margin"};

std::string Name(Random& random) {
  return std::string(random.Pick(kWords)) + "_" + std::to_string(random.Between(0, 999));
}

// One function of a UI script: tables, loops, branches and string work, as real layout code
// has them. Every piece is valid Lua 5.4.
void AppendFunction(Random& random, std::size_t index, std::string* lua) {
  const std::string name = std::string(random.Pick(kWords)) + "_" + std::to_string(index);
  *lua += "local function build_" + name + "(parent, x, y)\n";
  *lua += "  local node = { parent = parent, name = \"" + name + "\", children = {} }\n";
  for (std::size_t f = 0, n = random.Between(2, 5); f < n; ++f) {
    *lua += "  node." + std::string(random.Pick(kFields)) + " = " +
            std::to_string(random.Between(0, 640)) + " + x * " +
            std::to_string(random.Between(1, 9)) + "\n";
  }
  *lua += "  for i = 1, " + std::to_string(random.Between(2, 24)) + " do\n";
  *lua += "    node.children[#node.children + 1] = { id = \"" + name +
          "_\" .. i, visible = (i % 2 == 0), offset = i * " +
          std::to_string(random.Between(2, 40)) + " }\n";
  *lua += "  end\n";
  if (random.Chance(60)) {
    *lua += "  if (node.x or 0) > " + std::to_string(random.Between(50, 400)) +
            " then\n    node.style = \"wide\"\n  elseif y > " +
            std::to_string(random.Between(0, 200)) +
            " then\n    node.style = \"tall\"\n  else\n    node.style = \"compact\"\n  end\n";
  }
  if (random.Chance(40)) {
    *lua += "  node.title = string.format(\"%s #%d\", \"" + Name(random) + "\", y)\n";
  }
  if (random.Chance(25)) {
    *lua +=
        "  --#if DEBUG\n  print(\"built \" .. node.name)\n  --#else\n"
        "  node.trace = nil\n  --#endif\n";
  }
  *lua += "  return node\nend\nM.build_" + name + " = build_" + name + "\n\n";
}

std::string LuaScript(Random& random, const std::string& label) {
  std::string lua = "-- " + label + ": generated UI script\nlocal M = {}\n";
  lua += "M.strings = {\n";
  for (std::size_t i = 0, n = random.Between(2, 12); i < n; ++i) {
    lua += "  " + Name(random) + " = \"" + Name(random) + " " + Name(random) + "\",\n";
  }
  lua += "}\n\n";
  const std::size_t functions = random.Between(2, 14);
  for (std::size_t i = 0; i < functions; ++i) AppendFunction(random, i, &lua);
  lua += "return M\n";
  return lua;
}

std::string LayoutDescriptor(Random& random) {
  std::string xml = "<layout name=\"" + Name(random) + "\">\n";
  for (std::size_t i = 0, n = random.Between(5, 60); i < n; ++i) {
    xml += "  <node id=\"" + Name(random) + "\" x=\"" + std::to_string(random.Between(0, 1280)) +
           "\" y=\"" + std::to_string(random.Between(0, 720)) + "\" script=\"" + Name(random) +
           ".lua\"/>\n";
  }
  return xml + "</layout>\n";
}

// A small resource: half text-like, half binary, mostly a few hundred bytes to a few KB.
std::string SmallResource(Random& random) {
  const std::size_t size =
      random.Chance(80) ? random.Between(200, 4000) : random.Between(4000, 16000);
  if (random.Chance(50)) return RandomBytes(random, size);
  std::string text;
  while (text.size() < size) text += Name(random) + "=" + Name(random) + "\n";
  return text;
}

// A layout directory with `scripts` scripts spread over nested directories.
void MakeLayout(Random& random, const std::string& layout, std::size_t scripts,
                std::size_t images) {
  MakeDirectory(layout);
  std::vector<std::string> directories = {layout};
  for (std::size_t i = 0; i < scripts; ++i) {
    // New directories branch off existing ones, so the tree grows up to five levels deep.
    if (directories.size() < 2 || random.Chance(12)) {
      const std::string& parent = directories[random.Next() % directories.size()];
      const std::size_t depth =
          static_cast<std::size_t>(std::count(parent.begin(), parent.end(), '/') -
                                   std::count(layout.begin(), layout.end(), '/'));
      if (depth < 5) {
        const std::string child = parent + "/" +
                                  (depth == 0 ? random.Pick(kGroups) : random.Pick(kWords)) + "_" +
                                  std::to_string(directories.size());
        MakeDirectory(child);
        directories.push_back(child);
      }
    }
    const std::string& directory = directories[random.Next() % directories.size()];
    const std::string base = Name(random) + "_" + std::to_string(i);
    WriteBytes(directory + "/" + base + ".lua", LuaScript(random, base));
    ++totals.scripts;
    if (random.Chance(30)) WriteBytes(directory + "/" + base + ".xml", LayoutDescriptor(random));
  }
  MakeDirectory(layout + "/images");
  for (std::size_t i = 0; i < images; ++i) {
    WriteBytes(layout + "/images/bg_" + std::to_string(i) + ".png",
               ImageBytes(random, random.Between(200 << 10, 1200 << 10)));
  }
}

void MakeResources(Random& random, const std::string& res, std::size_t subdirectories,
                   std::size_t smallFiles, std::size_t largeImages) {
  MakeDirectory(res);
  WriteBytes(res + "/README.txt", "Resources of the generated benchmark package.\n");
  std::vector<std::string> roots;
  for (std::size_t i = 0; i < subdirectories; ++i) {
    roots.push_back(res + "/" + random.Pick(kResourceKinds) + "_" + std::to_string(i));
    MakeDirectory(roots.back());
  }
  // Each subdirectory gets a share of the small files, some in one or two nested levels.
  for (std::size_t i = 0; i < smallFiles; ++i) {
    std::string directory = roots[random.Next() % roots.size()];
    if (random.Chance(30)) {
      directory += "/" + std::string(random.Pick(kWords));
      MakeDirectory(directory);
      if (random.Chance(30)) {
        directory += "/" + std::string(random.Pick(kWords));
        MakeDirectory(directory);
      }
    }
    WriteBytes(directory + "/" + Name(random) + "_" + std::to_string(i) +
                   (random.Chance(50) ? ".png" : ".dat"),
               SmallResource(random));
  }
  for (std::size_t i = 0; i < largeImages; ++i) {
    WriteBytes(roots[random.Next() % roots.size()] + "/large_" + std::to_string(i) + ".png",
               ImageBytes(random, random.Between(1 << 20, 3 << 20)));
  }
}

void MakeConfigs(Random& random, const std::string& root) {
  std::string nametable;
  for (std::size_t i = 0; i < 2000; ++i) {
    nametable += Name(random) + "=" + std::to_string(i) + "\n";
  }
  WriteBytes(root + "/nametable.cfg", nametable);
  WriteBytes(root + "/package.cfg", "name=bench\nversion=1.0.0\nlayouts=4\n");
}

std::size_t Scaled(std::size_t count, double scale) {
  const auto scaled = static_cast<std::size_t>(static_cast<double>(count) * scale + 0.5);
  return scaled > 0 ? scaled : 1;
}

void MakePackage(const std::string& root, std::uint64_t seed, double scale) {
  Random random(seed);
  if (mkdir(root.c_str(), 0755) != 0) Fail("mkdir " + root);
  MakeConfigs(random, root);
  MakeLayout(random, root + "/layout", Scaled(1400, scale), Scaled(8, scale));
  MakeDirectory(root + "/skins");
  for (const char* skin : {"dark", "light", "festival"}) {
    MakeDirectory(root + "/skins/" + skin);
    MakeLayout(random, root + "/skins/" + skin + "/layout", Scaled(200, scale), Scaled(2, scale));
  }
  MakeResources(random, root + "/res", 200, Scaled(20000, scale), Scaled(50, scale));
}

// Files are empty: the walks only list names. Every directory gets a few subdirectories and
// files until the tree holds `entries` entries.
void MakeWalkTree(const std::string& root, std::uint64_t seed, std::size_t entries) {
  Random random(seed);
  if (mkdir(root.c_str(), 0755) != 0) Fail("mkdir " + root);
  std::size_t made = 0;
  auto file = [&](const std::string& path) {
    WriteBytes(path, {});
    ++made;
  };
  auto directory = [&](const std::string& path) {
    MakeDirectory(path);
    ++made;
  };
  file(root + "/nametable.cfg");
  file(root + "/package.cfg");
  std::vector<std::string> pending = {root};
  for (std::size_t next = 0; next < pending.size() && made < entries; ++next) {
    const std::string here = pending[next];
    bool hasLayout = false;
    bool hasRes = false;
    for (std::size_t i = 0, n = random.Between(1, 4); i < n && made < entries; ++i) {
      std::string child = here + "/" + random.Pick(kWords) + "_" + std::to_string(made);
      const unsigned kind = static_cast<unsigned>(random.Next() % 100);
      if (kind < 8 && !hasLayout) {
        child = here + "/layout";
        hasLayout = true;
      } else if (kind < 14 && !hasRes) {
        child = here + "/res";
        hasRes = true;
      }
      directory(child);
      pending.push_back(child);
    }
    bool hasContainer = false;
    for (std::size_t i = 0, n = random.Between(4, 14); i < n && made < entries; ++i) {
      const unsigned kind = static_cast<unsigned>(random.Next() % 100);
      const std::string stem = here + "/" + Name(random) + "_" + std::to_string(made);
      if (kind < 30) {
        file(stem + ".lua");
      } else if (kind < 36) {
        file(stem + ".zip");
      } else if (kind < 38 && !hasContainer) {
        file(here + "/layout.uip");
        hasContainer = true;
      } else {
        file(stem + (kind < 70 ? ".png" : ".xml"));
      }
    }
  }
  std::printf("walk tree %s: %zu entries\n", root.c_str(), made);
}

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: make_package package DIR [--seed N] [--scale F]\n"
               "       make_package walk-tree DIR --entries N [--seed N]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) Usage();
  const std::string mode = argv[1];
  const std::string root = argv[2];
  std::uint64_t seed = 20240601;
  double scale = 1.0;
  std::size_t entries = 0;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--seed") {
      seed = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (option == "--scale") {
      scale = std::strtod(argv[i + 1], nullptr);
    } else if (option == "--entries") {
      entries = std::strtoull(argv[i + 1], nullptr, 10);
    } else {
      Usage();
    }
  }
  if (mode == "package" && scale > 0) {
    MakePackage(root, seed, scale);
    std::printf("package %s: %zu scripts, %zu files, %zu directories, %.1f MB\n", root.c_str(),
                totals.scripts, totals.files, totals.directories,
                static_cast<double>(totals.bytes) / 1e6);
  } else if (mode == "walk-tree" && entries > 0) {
    MakeWalkTree(root, seed, entries);
  } else {
    Usage();
  }
  return 0;
}
