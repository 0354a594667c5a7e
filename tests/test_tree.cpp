#include "test_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/platform.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>  // fsync
#endif

namespace fs = std::filesystem;

namespace doppioni::testing {
namespace {

// Names are UTF-8, and on Windows "\\?\" keeps them whole: without it a
// trailing dot or blank would be dropped and paths would stop at 260 characters.
fs::path fsPath(const std::string& path) {
  std::u8string text(path.begin(), path.end());
  bool drive = PATH_SEPARATOR == '\\' && path.size() >= 3 && path[1] == ':' && path[2] == '\\';
  return fs::path(drive ? u8"\\\\?\\" + text : text);
}

// With the program's own calls: the prefixed paths are more than the
// library's remove_all takes.
void removeTree(const std::string& path) {
  FolderContents listing;
  listFolder(path, ListingDetail::TYPES_ONLY, listing);
  for (const ListedEntry& entry : listing.entries) {
    std::string child = path + PATH_SEPARATOR + std::string(listing.name(entry));
    static_cast<void>(makeWritable(child));
    if (entry.info.isFolder && !entry.info.isLink) removeTree(child);
    if (deleteFile(child) != 0) static_cast<void>(removeFolder(child));  // a folder, or a link
  }
  static_cast<void>(removeFolder(path));
}

}  // namespace

int deleteFile(const std::string& path) {
  DeletionPlan plan = planDeletion(path, nullptr);
  PreparedDeletion prepared =
      prepareDeletion(plan, false, nullptr, [](const EntryInfo&, const OpenFile&) { return true; });
  if (prepared.failure) return prepared.failure->error;
  return errorOf(deleteHeldFile(prepared.held, prepared.leftAt));
}

TempTree::TempTree() {
  std::random_device random;
  std::error_code error;
  do {
    root_ = (fs::temp_directory_path() / ("doppioni-test-" + std::to_string(random()))).string();
  } while (!fs::create_directory(root_, error));
  fs::permissions(root_, fs::perms::all, error);  // reachable by an unprivileged run too
}

TempTree::~TempTree() {
  // Give back every permission a test took away, then remove it all.
  std::error_code error;
  fs::recursive_directory_iterator it(root_, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::end(it); it.increment(error)) {
    if (!it->is_symlink()) fs::permissions(*it, fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, error);
  removeTree(root_);
}

std::string TempTree::path(std::string_view rel) const {
  std::string result = root_;
  if (!rel.empty()) result += PATH_SEPARATOR + std::string(rel);
  std::replace(result.begin() + root_.size(), result.end(), '/', PATH_SEPARATOR);
  return result;
}

void TempTree::file(std::string_view rel, std::string_view content) {
  fs::path target(fsPath(path(rel)));
  fs::create_directories(target.parent_path());
  ASSERT_TRUE((std::ofstream(target, std::ios::binary) << content).good()) << target;
}

void TempTree::sparseFile(std::string_view rel, std::uint64_t size) {
  file(rel);
  fs::resize_file(fsPath(path(rel)), size);
}

void TempTree::folder(std::string_view rel) {
  fs::create_directories(fsPath(path(rel)));
}

void TempTree::setWriteTime(std::string_view rel, std::int64_t seconds) {
  // file_time_type's epoch is the library's own: go through the system clock.
  auto system = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
  fs::last_write_time(fsPath(path(rel)), std::chrono::file_clock::from_sys(system));
}

bool TempTree::exists(std::string_view rel) const {
  std::error_code error;
  return fs::exists(fs::symlink_status(fsPath(path(rel)), error));
}

namespace {

struct CopyCase {
  const char* rel;
  std::string bytes;
  char outcome;  // its line in the list: C (and gone), R; '-' for none
};

const std::vector<CopyCase>& copyCases() {
  static const std::string big(3 << 20, 'g');
  // In the list's order: the table's, the companion files of marked pages last.
  // clang-format off
  static const std::vector<CopyCase> cases = {
      {"A/cambiata.txt", "uno", '-'},      {"B/cambiata.txt", "uno", 'R'},
      {"A/esca.txt", "abc", '-'},          {"B/esca.txt", "abd", 'R'},
      {"A/grande.bin", big + "1", '-'},    {"B/grande.bin", big + "2", 'R'},
      {"C/grande.bin", big + "1", 'C'},    {"P/pagina.htm", "<p>", '-'},
      {"Q/pagina.htm", "<p>", 'C'},        {"A/tenuta.txt", "uno", '-'},
      {"B/tenuta.txt", "uno", 'R'},        {"A/toccata.txt", "to", '-'},
      {"B/toccata.txt", "to", 'R'},        {"A/tre.txt", "123", '-'},
      {"B/tre.txt", "123", 'C'},           {"C/tre.txt", "12x", 'R'},
      {"D/tre.txt", "123", 'C'},           {"A/vuoto.txt", "", '-'},
      {"B/vuoto.txt", "", 'C'},            {"P/pagina_file/a.jpg", "aaa", '-'},
      {"Q/pagina_file/a.jpg", "aaa", 'C'}, {"P/pagina_file/b.jpg", "bbb", '-'},
      {"Q/pagina_file/b.jpg", "bbx", 'R'}};
  // clang-format on
  return cases;
}

constexpr std::int64_t COPY_TIME = 1100000000;

}  // namespace

// A USB disk's FUSE file system hands bytes written to its daemon after the
// calls that wrote them returned (sync() does not wait for them), and the
// daemon sets the write time as it writes them: each file's writes are
// waited for (fsync) before its time is set, and the times are set again
// until they stay.
namespace {
void waitForWrites(const std::string& path) {
#ifndef _WIN32
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    static_cast<void>(::fsync(fd));
    ::close(fd);
  }
#else
  static_cast<void>(path);
#endif
}

void setTimesThatStay(TempTree& tree, const std::vector<std::string>& rels) {
  const auto wanted = std::chrono::file_clock::from_sys(
      std::chrono::system_clock::time_point(std::chrono::seconds(COPY_TIME)));
  for (int attempt = 0; attempt < 50; ++attempt) {
    for (const std::string& rel : rels) {
      waitForWrites(tree.path(rel));
      tree.setWriteTime(rel, COPY_TIME);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (std::all_of(rels.begin(), rels.end(), [&](const std::string& rel) {
          return fs::last_write_time(fsPath(tree.path(rel))) == wanted;
        })) {
      return;
    }
  }
}
}  // namespace

void makeCopyCases(TempTree& tree) {
  std::vector<std::string> rels;
  for (const CopyCase& c : copyCases()) {
    tree.file(c.rel, c.bytes);
    rels.emplace_back(c.rel);
  }
  setTimesThatStay(tree, rels);
}

void changeCopyCases(TempTree& tree) {
  for (const char* rel : {"B/cambiata.txt", "A/tenuta.txt"}) tree.file(rel, "unx");
  tree.file("A/toccata.txt", "to+");  // grown: its bytes begin as they were
  setTimesThatStay(tree, {"B/cambiata.txt", "A/tenuta.txt", "A/toccata.txt"});
}

void expectCopyCases(const TempTree& tree) {
  std::ifstream in(tree.path("Elenco_files_cancellati.txt"));  // text mode: CR LF reads as "\n"
  std::string list{std::istreambuf_iterator<char>(in), {}}, expected;
  for (const CopyCase& c : copyCases()) {
    fs::path rel(c.rel);
    if (c.outcome != '-') {
      expected += c.outcome + (" " + rel.filename().string() + " in ") +
                  tree.path(rel.parent_path().string()) + "\n";
    }
    EXPECT_EQ(tree.exists(c.rel), c.outcome != 'C') << c.rel;
  }
  EXPECT_TRUE(list.ends_with("\n\n\n" + expected)) << list;
  EXPECT_FALSE(tree.exists(ASIDE_JOURNAL));
}

std::tm fixedTime() {
  std::tm time{};
  std::tie(time.tm_year, time.tm_mon, time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec) =
      std::tuple(105, 2, 7, 9, 5, 41);
  return time;
}

TestRun::TestRun() : ctx(progress) {
  EXPECT_FALSE(ctx.files.grow(TABLE_STEP).has_value());
  ctx.clock = fixedTime;
}

FileRecord& addRecord(RunContext& ctx, std::string_view dir, std::string_view name,
                      std::uint64_t size, std::uint64_t writeTime) {
  EXPECT_TRUE(!ctx.files.full() || !ctx.files.grow(TABLE_STEP));
  // Records of one folder share one path, as the scan stores them.
  std::uint32_t dirId = 0;
  while (dirId < ctx.folders.size() && ctx.folders.path(dirId) != dir) ++dirId;
  if (dirId == ctx.folders.size()) dirId = ctx.folders.add(dir).value();
  return ctx.files.add() = {writeTime,
                            size,
                            dirId,
                            ctx.names.add(name).value(),
                            0,
                            0,
                            NO_COPY,
                            false,
                            Kind::NORMAL,
                            EXT_OF_NAME,
                            nameTraits(name)};
}

std::string describe(const RunContext& ctx, const FileRecord& e) {
  return std::string(dirOf(ctx, e)) + "|" + nameOf(ctx, e);
}

}  // namespace doppioni::testing
