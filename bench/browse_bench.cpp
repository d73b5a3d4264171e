// The browse's two ways of filling its list, timed on files built with the
// record driver: a whole-file browse over 65 535 rows (the register's
// largest), and a page-at-a-time browse over 1 000 000 records that shows
// its first page and pages to the end. Peak memory (max RSS) is printed
// before and after the paging, to show it does not grow with the file.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "framework/errors/error_manager.h"
#include "framework/files/file_manager.h"
#include "framework/files/relation_manager.h"
#include "framework/windows/browse_manager.h"
#include "framework/windows/window_manager.h"
#include "platform/headless_presenter.h"
#include "platform/record_fields.h"
#include "platform/record_file.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace {

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::platform;
using Clock = std::chrono::steady_clock;

constexpr int kList = 1;

RecordDeclaration RegisterDeclaration(const std::string& disk_name) {
  RecordDeclaration declaration;
  declaration.label = "Register";
  declaration.disk_name = disk_name;
  declaration.prefix = "REG";
  const int number = declaration.AddField("REG:NUMBER", FieldEncoding::kU32);
  declaration.AddField("REG:NAME", FieldEncoding::kText, 13);
  declaration.AddField("REG:DATE", FieldEncoding::kI32);
  declaration.AddField("REG:TIME", FieldEncoding::kI32);
  declaration.AddField("REG:SIZE", FieldEncoding::kI32);
  declaration.keys.push_back({"REG:NumberKey", {number}, true, false, true});
  return declaration;
}

class RegisterManager : public FileManager {
 public:
  RegisterManager(RecordFile& file, ErrorManager& errors) : file_(file), errors_(errors) {}
  void Setup() override {
    FILENAMEVALUE = "Register";
    ERRORS = &errors_;
    FILE = &file_;
    FileManager::Setup();
  }
  ErrorLevel EnsureOpen(int usage) override {
    if (usage != kUsageInitialize) {
      EnsureOpen(kUsageInitialize);
    } else if (!INITIALIZED) {
      Attach(file_, errors_);
      for (const KeyDeclaration& key : file_.Declaration().keys) AddKey(key.name, key.name, false);
    }
    return FileManager::EnsureOpen(usage);
  }

 private:
  RecordFile& file_;
  ErrorManager& errors_;
};

long MaxRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

bool Build(const std::string& disk_name, int records) {
  RecordFile file(RegisterDeclaration(disk_name));
  if (file.Create() != 0 || file.Open() != 0 || file.Stream() != 0) return false;
  const auto& fields = file.Declaration().fields;
  for (int i = 1; i <= records; ++i) {
    file.Clear();
    SetFieldNumber(fields[0], file.Record(), i);
    SetFieldText(fields[1], file.Record(), "TDX" + std::to_string(i % 100000) + ".ZIP");
    SetFieldNumber(fields[2], file.Record(), 80000 + i % 3000);
    SetFieldNumber(fields[3], file.Record(), 360000 * (i % 24) + 1);
    SetFieldNumber(fields[4], file.Record(), 1000 + i);
    if (file.Add() != 0) return false;
  }
  return file.Flush() == 0 && file.Close() == 0;
}

// A window with the list, the register's managers and a browse over them.
struct Browse {
  Browse(const std::string& disk_name, ErrorManager& errors, bool loaded, int page)
      : file(RegisterDeclaration(disk_name)), manager(file, errors) {
    manager.Setup();
    relations.Attach(manager, false);
    manager.Open();
    procedure.CL = std::make_unique<std::vector<WindowManager::ComponentEntry>>();
    WindowDef window{.id = "Bench$Browse", .caption = "Browse"};
    window.controls = {{kList, ControlKind::kList, ""}};
    procedure.OpenWindow(window, nullptr);
    procedure.MYWINDOW->SetProperty(kPropListItems, static_cast<long>(page), kList);
    browse.Init(kList, procedure, relations);
    browse.AddOrder(loaded ? 0 : 1);
    browse.AddField(1, "@n_6");
    browse.AddField(2, "@s13");
    browse.AddField(3, "@d17b");
    browse.AddField(4, "@T1b");
    browse.AddField(5, "@n-14b");
    browse.FILELOADED = loaded ? 1 : 0;
    browse.RegisterAlerts();
    browse.ResetRequired();
    procedure.Reset(0);
  }
  ~Browse() {
    browse.Teardown();
    manager.Close();
  }
  // Hands one list event to the browse as the window's loop would.
  void Send(int event) {
    procedure.MYWINDOW->Post({event, kList, 0});
    procedure.MYWINDOW->NextEvent();
    browse.HandleEvent();
  }
  std::string LastNumber() const {
    return browse.ROWS.empty() ? std::string{} : browse.ROWS.back().VALUES.front();
  }

  RecordFile file;
  RegisterManager manager;
  RelationManager relations;
  WindowManager procedure;
  BrowseManager browse;
};

}  // namespace

int main() {
  const fs::path directory = fs::temp_directory_path() / "qm-browse-bench";
  fs::remove_all(directory);
  fs::create_directories(directory);
  fs::current_path(directory);
  HeadlessPresenter presenter;
  InstallPresenter(&presenter);
  PerThread<ErrorStatus> status;
  ErrorManager errors;
  errors.Start(status);

  constexpr int kPaged = 1000000;
  constexpr int kLoaded = 65535;
  constexpr int kPage = 20;

  auto start = Clock::now();
  if (!Build("PAGED", kPaged)) return 1;
  std::printf("build %d records (stream mode): %.2f s\n", kPaged, Seconds(start));

  const long rss_before = MaxRssKb();
  {
    start = Clock::now();
    Browse paged("PAGED", errors, false, kPage);
    std::printf("page-at-a-time over %d records, first page shown: %.4f s (%d rows)\n", kPaged,
                Seconds(start), paged.browse.Rows());
    start = Clock::now();
    int pages = 0;
    while (paged.LastNumber() != std::to_string(kPaged)) {
      paged.Send(kEventListPageDown);
      ++pages;
    }
    const double elapsed = Seconds(start);
    std::printf("paged to the end: %d page downs in %.2f s (%.1f us a page), %d rows held\n", pages,
                elapsed, 1e6 * elapsed / pages, paged.browse.Rows());
    start = Clock::now();
    paged.Send(kEventListScrollTop);
    paged.Send(kEventListScrollBottom);
    std::printf("top then bottom: %.4f s\n", Seconds(start));
  }
  const long rss_after = MaxRssKb();
  std::printf("max RSS before paging %ld KiB, after %ld KiB (growth %ld KiB)\n", rss_before, rss_after,
              rss_after - rss_before);

  if (!Build("LOADED", kLoaded)) return 1;
  {
    start = Clock::now();
    Browse loaded("LOADED", errors, true, kPage);
    loaded.browse.UpdateWindow();
    std::printf("whole-file browse over %d rows opened: %.3f s (%d rows)\n", kLoaded, Seconds(start),
                loaded.browse.Rows());
    start = Clock::now();
    for (int i = 0; i < 1000; ++i) loaded.Send(kEventListPageDown);
    std::printf("1000 page downs in the loaded list: %.4f s\n", Seconds(start));
  }
  std::printf("max RSS at the end %ld KiB\n", MaxRssKb());

  errors.Shutdown();
  InstallPresenter(nullptr);
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(directory);
  return 0;
}
