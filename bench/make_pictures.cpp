// make_pictures [--seed S] DIR BYTES: a deterministic tree of pictures with
// real bytes, about BYTES in all, for timing what reads files: photos of 4 KB
// to 16 MB filled with pseudo-random bytes, a third of them copied (same
// name, bytes and write time) into other folders, and a tenth with a decoy of
// the same name, size and write time in another folder and one byte changed.
//
// Beside the tree it writes two lists, paths relative to DIR:
//   DIR.same      the files that share name, size and write time with
//                 another, NUL-separated: the bytes a comparison must read
//   DIR.contents  "CONTENT<tab>path" for every file; files with the same
//                 CONTENT hold the same bytes, so a cleaner that keeps
//                 exactly one file of each CONTENT lost nothing
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "rng.h"

namespace {

constexpr std::int64_t TIME_FROM = 1041379200;  // 2003-01-01, and ten years on
constexpr std::int64_t TIME_SPAN = 315360000;
constexpr double SMALLEST = 4096, BIGGEST = 16 << 20;

const char* const EVENTS[] = {"Vacanze", "Natale", "Matrimonio", "Compleanno", "Gita", "Laurea"};
const char* const PLACES[] = {"Roma", "Venezia", "Napoli", "Parigi", "Cortina", "Taormina"};
const char* const FROM_BACKUP[] = {"Backup", "Chiavetta", "Vecchio PC", "Da sistemare"};

struct Picture {
  int folder;
  std::string name;
  std::int64_t size, seconds, nanos;
  std::uint64_t seed;     // of its bytes
  std::int64_t changeAt;  // the byte a decoy changes, -1 for none
  int content;            // files with one content hold the same bytes
};

struct Plan {
  std::vector<std::string> folders;
  std::vector<Picture> pictures;
  std::set<std::pair<int, std::string>> taken;
  std::int64_t bytes = 0;
  int originals = 0, copies = 0, decoys = 0;
};

// A picture's name: camera numbers repeat from card to card, so that one name
// stands for pictures of other sizes in other folders.
std::string pictureName(Rng& rng) {
  char name[32];
  int number = static_cast<int>(rng.below(2000)) + 1;
  if (rng.percent(60)) {
    std::snprintf(name, sizeof name, "IMG_%04d.JPG", number);
  } else if (rng.percent(60)) {
    std::snprintf(name, sizeof name, "DSC%05d.jpg", number);
  } else {
    std::snprintf(name, sizeof name, "%s %d.jpg", PLACES[rng.below(6)], number % 200);
  }
  return name;
}

// A folder other than `not` in which `name` is free; -1 after many tries.
int freeFolder(Plan& p, Rng& rng, const std::string& name, int notIn) {
  for (int tries = 0; tries < 100; ++tries) {
    int f = static_cast<int>(rng.below(p.folders.size()));
    if (f != notIn && p.taken.insert({f, name}).second) return f;
  }
  return -1;
}

void plan(Plan& p, Rng& rng, std::int64_t bytes) {
  // About 1.43 bytes in the tree for one of originals: a third copied, a tenth decoyed.
  const std::int64_t originalBytes = bytes * 30 / 43;
  int folderCount = static_cast<int>(std::max<std::int64_t>(8, bytes / (40 << 20)));
  for (int i = 0; i < folderCount; ++i) {
    std::string year = std::to_string(2003 + i % 10);
    std::string event = std::string(EVENTS[rng.below(6)]) + " " + PLACES[rng.below(6)];
    std::string top = i % 4 == 3 ? FROM_BACKUP[rng.below(4)] : "Foto";
    p.folders.push_back(top + "/" + year + "/" + event + " " + std::to_string(i));
  }
  std::int64_t made = 0;
  while (made < originalBytes) {
    const std::int64_t size = rng.logSize(SMALLEST, BIGGEST);
    std::string name = pictureName(rng);
    int folder = freeFolder(p, rng, name, -1);
    if (folder < 0) continue;
    Picture original{
        folder,     name, size,         TIME_FROM + rng.below(TIME_SPAN), rng.below(1000000000),
        rng.next(), -1,   p.originals++};
    p.pictures.push_back(original);
    made += size;
    if (rng.below(3) == 0) {
      Picture copy = original;
      if ((copy.folder = freeFolder(p, rng, name, folder)) >= 0) {
        p.pictures.push_back(copy);
        ++p.copies;
      }
    }
    if (rng.below(10) == 0) {
      Picture decoy = original;
      decoy.changeAt = static_cast<std::int64_t>(rng.below(static_cast<std::size_t>(size)));
      decoy.content = -1;  // numbered after the originals
      if ((decoy.folder = freeFolder(p, rng, name, folder)) >= 0) {
        p.pictures.push_back(decoy);
        ++p.decoys;
      }
    }
  }
  int next = p.originals;
  for (Picture& picture : p.pictures) {
    if (picture.content < 0) picture.content = next++;
    p.bytes += picture.size;
  }
}

bool fail(const std::string& what) {
  std::fprintf(stderr, "make_pictures: %s: %s\n", what.c_str(), std::strerror(errno));
  return false;
}

bool makeFolders(const std::string& path) {
  for (std::size_t at = 0; at != std::string::npos;) {
    at = path.find('/', at + 1);
    std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return fail(part);
  }
  return true;
}

bool writePicture(const std::string& path, const Picture& picture) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return fail(path);
  Rng bytes{picture.seed};
  std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
  bool ok = true;
  for (std::int64_t at = 0; ok && at < picture.size;) {
    auto length = static_cast<std::size_t>(std::min<std::int64_t>(picture.size - at, 1 << 20));
    for (std::size_t word = 0; word < (length + 7) / 8; ++word) block[word] = bytes.next();
    if (picture.changeAt >= at && picture.changeAt < at + static_cast<std::int64_t>(length)) {
      reinterpret_cast<unsigned char*>(block.data())[picture.changeAt - at] ^= 0x5a;
    }
    ok = ::write(fd, block.data(), length) == static_cast<ssize_t>(length);
    at += static_cast<std::int64_t>(length);
  }
  timespec times[2] = {{picture.seconds, picture.nanos}, {picture.seconds, picture.nanos}};
  ok = ok && ::futimens(fd, times) == 0;
  ::close(fd);
  return ok || fail(path);
}

// The two lists beside the tree.
bool writeLists(const std::string& root, const Plan& p, std::int64_t& sameBytes, int& same) {
  std::map<std::tuple<std::string, std::int64_t, std::int64_t, std::int64_t>, int> group;
  for (const Picture& picture : p.pictures)
    ++group[{picture.name, picture.size, picture.seconds, picture.nanos}];
  std::FILE* sameList = std::fopen((root + ".same").c_str(), "wb");
  std::FILE* contents = std::fopen((root + ".contents").c_str(), "wb");
  if (sameList == nullptr || contents == nullptr) return fail(root + ".same or .contents");
  for (const Picture& picture : p.pictures) {
    std::string path = p.folders[picture.folder] + "/" + picture.name;
    std::fprintf(contents, "%d\t%s\n", picture.content, path.c_str());
    if (group[{picture.name, picture.size, picture.seconds, picture.nanos}] < 2) continue;
    std::fwrite(path.c_str(), 1, path.size() + 1, sameList);
    sameBytes += picture.size;
    ++same;
  }
  bool ok = std::fclose(sameList) == 0;
  return (std::fclose(contents) == 0 && ok) || fail(root + ".same or .contents");
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long seed = 1;
  if (argc == 5 && std::strcmp(argv[1], "--seed") == 0) {
    seed = std::strtoull(argv[2], nullptr, 10);
    argv += 2;
    argc -= 2;
  }
  std::int64_t bytes = argc == 3 ? std::atoll(argv[2]) : 0;
  if (bytes < (64 << 20)) {
    std::fprintf(stderr, "usage: make_pictures [--seed S] DIR BYTES (at least 64 MiB)\n");
    return 2;
  }
  std::string root = argv[1];
  Rng rng{seed * 0x2545f4914f6cdd1dULL + 777};
  Plan p;
  plan(p, rng, bytes);
  if (::mkdir(root.c_str(), 0755) != 0) return fail(root + " (it must not exist yet)") ? 0 : 1;
  for (const std::string& folder : p.folders) {
    if (!makeFolders(root + "/" + folder)) return 1;
  }
  for (const Picture& picture : p.pictures) {
    if (!writePicture(root + "/" + p.folders[picture.folder] + "/" + picture.name, picture))
      return 1;
  }
  std::int64_t sameBytes = 0;
  int same = 0;
  if (!writeLists(root, p, sameBytes, same)) return 1;
  std::printf(
      "pictures %zu, %.1f MB, folders %zu (seed %llu)\n"
      "  originals %d, copies %d, decoys %d\n"
      "  sharing name, size and write time with another: %d files, %.1f MB\n",
      p.pictures.size(), static_cast<double>(p.bytes) / 1e6, p.folders.size(), seed, p.originals,
      p.copies, p.decoys, same, static_cast<double>(sameBytes) / 1e6);
  return 0;
}
