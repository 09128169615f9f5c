#include "app/run_driver.h"

#include <string>

#include "log/log_write.h"
#include "package/package_builder.h"
#include "platform/console.h"
#include "platform/path.h"
#include "platform/text.h"

namespace uippack {
namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;

// Paths may be typed with either separator; the tool works with the native one.
void UseNativeSeparators(std::wstring* path) {
  for (auto& c : *path) {
    if (c == platform::kForeignSeparator) c = platform::kPathSeparator;
  }
}

std::wstring Tabs(std::size_t count) { return std::wstring(count, L'\t'); }

// The four entries a package must hold, laid out as the console and the log show them.
std::wstring RequiredEntriesText(std::size_t leadingTabs) {
  return L".\nA Valid UIP Path must include each of the following files:\n" + Tabs(leadingTabs) +
         L" " + Tabs(4) + L"1.layout folder\n" + Tabs(4) + L"2.res folder\n" + Tabs(4) +
         L"3.nametable.cfg\n" + Tabs(4) + L"4.package.cfg\n";
}

// The verdict of a run that got past the source test: the ok line, or the error line that is
// also logged. runName is "Pack" or "Unpack".
int Verdict(int pipelineResult, const std::wstring& runName, const std::wstring& source,
            const std::wstring& destination) {
  if (pipelineResult == 1) {
    platform::WriteConsoleLine(runName + L" all uip files ok!");
    return kExitSuccess;
  }
  platform::WriteConsoleLine(runName + L" error,source path = " + source +
                             L", destination path = " + destination);
  const std::wstring logFormat = runName + L" error,source path = %s, destination path = %s";
  LogWrite(logFormat.c_str(), source.c_str(), destination.c_str());
  return kExitFailure;
}

int RunPack(std::wstring source, std::wstring destination, const std::wstring& mode) {
  platform::WriteConsoleLine(L"Start packing uip files, please wait...");
  PackageBuilder builder;
  builder.modeOption = mode;
  UseNativeSeparators(&source);
  UseNativeSeparators(&destination);

  if (builder.CheckPackSource(source) != 1) {
    platform::WriteConsoleLine(L"No valid uip files found in path = " + source +
                               RequiredEntriesText(22));
    const std::wstring logFormat =
        L"No valid uip files found in path = %s" + RequiredEntriesText(6);
    LogWrite(logFormat.c_str(), source.c_str());
    return kExitFailure;
  }
  return Verdict(builder.PackAll(source, destination), L"Pack", source, destination);
}

int RunUnpack(std::wstring source, std::wstring destination) {
  platform::WriteConsoleLine(L"Start unpacking uip files, please wait...");
  PackageBuilder builder;
  UseNativeSeparators(&source);
  UseNativeSeparators(&destination);

  if (builder.CheckUnpackSource(source) != 1) {
    platform::WriteConsoleLine(L"No valid uip files found in path = " + source + L".");
    LogWrite(L"No valid uip files found in path = %s.", source.c_str());
    return kExitFailure;
  }
  return Verdict(builder.UnpackAll(source, destination), L"Unpack", source, destination);
}

}  // namespace

int RunDriver(const std::vector<std::wstring>& arguments) {
  if (arguments.size() < 4) {
    platform::WriteConsoleLine(L"Less arguments,at least three arguments are needed!");
    return kExitFailure;
  }
  const std::wstring& option = arguments[1];
  const std::wstring& source = arguments[2];
  const std::wstring& destination = arguments[3];
  const std::wstring mode = arguments.size() >= 5 ? arguments[4] : std::wstring();

  if (platform::EqualsIgnoringCase(option, L"-p")) return RunPack(source, destination, mode);
  if (platform::EqualsIgnoringCase(option, L"-u")) return RunUnpack(source, destination);
  platform::WriteConsoleLine(L"option error, please use -p for packing and -u for unpacking");
  return kExitFailure;
}

}  // namespace uippack
