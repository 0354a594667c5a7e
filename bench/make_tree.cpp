// make_tree [--seed S] DIR FILES: a deterministic tree that looks like an old
// office PC's documents (photos, letters, music, saved web pages with their
// companion folders, backup copies, Office scratch files, a recycle bin,
// forgotten empty folders). Files are sparse: only their sizes are set.
// make_tree --chain DEPTH DIR: a chain of nested folders holding one file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "rng.h"

namespace {

constexpr int MAX_DEPTH = 8;                   // the root's own subfolders are depth 1
constexpr std::int64_t TIME_FROM = 883612800;  // 1998-01-01, and ten years on
constexpr std::int64_t TIME_SPAN = 315360000;

// What patterns draw from: "$P" a place, "$W" a person, "$E" an event, "$S"
// a song, "$F" a folder, "$G" a web page; "$Y" is a year, "$N" a number.
const char* const WORDS[] = {
    "PRoma|Venezia|Città del Capo|Perù|Napoli|Parigi|Cortina|Taormina|Sicilia|Praga",
    "WLuca|Giulia|Marco|nonna Maria|Niccolò|Elena|zio Beppe|Sara",
    "EVacanze|Natale|Matrimonio|Compleanno|Gita|Laurea|Battesimo",
    "SAzzurro|Volare|La donna cannone|Perché lo fai|Città vuota|Sarà perché ti amo",
    "FDocumenti|Lavoro|Fatture|Università|Società|Musica|MP3|Nuova cartella|Backup|Varie",
    "FDownload|Archivio|Già visti|Da sistemare|Clienti|Tesi|Condominio|Ricette",
    "GPagina iniziale|Repubblica.it - Home|Ricetta tiramisù|Orari treni|Meteo|Offerte voli"};
const char* const FOLDER_NAMES[] = {"$E $P $Y",   "$E di $W", "$NCANON", "$F $Y",
                                    "CD $N - $S", "$F",       "$F",      "$F di $W"};
// Now and then a long name, so that deep paths pass 260 bytes.
const char* const LONG_NAME =
    "Documenti importanti da non cancellare assolutamente - copia di sicurezza del $Y";
struct Kind {
  const char* pattern;
  double low, high;  // size range; 0: empty
};
const Kind FILE_KINDS[] = {{"IMG_$N.JPG", 20e3, 4e6},        {"DSC0$N.jpg", 20e3, 4e6},
                           {"$P $N.jpg", 20e3, 4e6},         {"Lettera a $W.doc", 10e3, 2e6},
                           {"fattura_$Y_$N.pdf", 20e3, 5e6}, {"Bilancio $Y.xls", 10e3, 3e6},
                           {"$N - $S.mp3", 1e6, 12e6},       {"Sconto $N%.doc", 10e3, 2e6},
                           {"$W & $W.txt", 1, 40e3},         {"Nuovo Documento di testo.txt", 0, 0},
                           {"LEGGIMI.TXT", 1, 40e3},         {"backup_$Y$N.zip", 50e3, 50e6}};
const char* const PARTS[] = {"image001.gif", "image002.jpg", "filelist.xml", "style.css",
                             "script.js",    "logo.gif",     "banner.jpg",   "image003.png"};
const char* const JUNK[] = {
    "Thumbs.db",    "Thumbs.db",   "THUMBS.DB", "~$ttera a Luca.doc", "~$lazione finale.doc",
    "~WRL0001.tmp", "~WRL2817.tmp"};

std::string_view word(Rng& rng, char key) {
  std::vector<std::string_view> words;
  for (std::string_view list : WORDS) {
    for (std::size_t at = 1; list[0] == key && at != 0; at = list.find('|', at) + 1) {
      words.push_back(list.substr(at, list.find('|', at) - at));
    }
  }
  return words.empty() ? std::string_view() : words[rng.below(words.size())];
}

std::string fill(Rng& rng, std::string_view pattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    char key = pattern[i] == '$' && i + 1 < pattern.size() ? pattern[++i] : 0;
    if (key == 0) {
      out += pattern[i];
    } else if (key == 'Y' || key == 'N') {
      out += std::to_string(key == 'Y' ? rng.range(1998, 2008) : rng.range(1, 999));
    } else {
      out += word(rng, key);
    }
  }
  return out;
}

struct File {
  std::string name;
  std::int64_t size, seconds, nanos;
  bool readOnly;
};

struct Folder {
  int depth;
  std::string path;  // from the tree's root
  std::vector<File> files;
  std::vector<int> subfolders;  // the regular ones
};

struct Tree {
  Rng rng;
  std::vector<Folder> folders;
  std::vector<int> regular;               // folders that get ordinary files
  std::unordered_set<std::string> taken;  // folder index '/' name
  long long files = 0, copies = 0, pages = 0, junk = 0, recycled = 0, empty = 0;

  // The name itself, or "name (2)", "name (3)"... when it is taken in folder.
  std::string claim(int folder, const std::string& name) {
    std::string candidate = name;
    for (int n = 2; !taken.insert(std::to_string(folder) + "/" + candidate).second; ++n) {
      std::size_t dot = name.rfind('.');
      if (dot == std::string::npos || dot == 0) dot = name.size();
      candidate = name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
    }
    return candidate;
  }
  int addFolder(int parent, const std::string& name) {
    Folder folder{
        folders[parent].depth + 1, folders[parent].path + "/" + claim(parent, name), {}, {}};
    folders.push_back(std::move(folder));
    return static_cast<int>(folders.size()) - 1;
  }
  void addFile(int folder, const std::string& name, std::int64_t size, std::int64_t seconds,
               std::int64_t nanos, bool readOnly) {
    folders[folder].files.push_back({claim(folder, name), size, seconds, nanos, readOnly});
    ++files;
  }
  void addFile(int folder, const std::string& name, std::int64_t size) {
    addFile(folder, name, size, TIME_FROM + rng.below(TIME_SPAN), rng.range(0, 999999999),
            rng.percent(1));
  }
  int anyRegular(int maxDepth) {
    for (;;) {
      int f = regular[rng.below(regular.size())];
      if (folders[f].depth <= maxDepth) return f;
    }
  }
};

// A name and a size that go together: photos are big, letters small.
std::string fileName(Rng& rng, std::int64_t& size) {
  const Kind& kind = rng.pick(FILE_KINDS);
  size = kind.low == 0 ? 0 : rng.logSize(kind.low, kind.high);
  return fill(rng, kind.pattern);
}

void plan(Tree& t, long long files) {
  Rng& rng = t.rng;
  t.folders.push_back({0, "", {}, {}});
  long long folders = std::max(files / 10, 20LL);
  t.regular.push_back(0);
  for (long long i = 0; i < folders * 9 / 10; ++i) {
    // Down from the root into a random subfolder, more likely the more there
    // are: a dozen or so a folder, most of the tree a few levels deep.
    int parent = 0;
    for (Folder* f = &t.folders[0];
         f->depth < MAX_DEPTH - 1 && f->subfolders.size() > rng.below(12); f = &t.folders[parent]) {
      parent = f->subfolders[rng.below(f->subfolders.size())];
    }
    const char* name = rng.below(1000) < 7 ? LONG_NAME : rng.pick(FOLDER_NAMES);
    t.regular.push_back(t.addFolder(parent, fill(rng, name)));
    t.folders[parent].subfolders.push_back(t.regular.back());
  }
  // Saved web pages, 1%: "stem.htm" and its folder "stem_file" of parts beside it.
  for (long long i = 0; i < files / 100; ++i) {
    int folder = t.anyRegular(MAX_DEPTH - 1);
    std::string stem = fill(rng, "$G $N");
    if (t.taken.count(std::to_string(folder) + "/" + stem + ".htm")) continue;
    t.addFile(folder, stem + (rng.percent(70) ? ".htm" : ".html"), rng.logSize(3e3, 300e3));
    int companion = t.addFolder(folder, stem + "_file");
    for (int p = rng.range(2, 7); p >= 0; --p)
      t.addFile(companion, PARTS[p], rng.logSize(200, 80e3));
    ++t.pages;
  }
  // Junk, 0.5%: thumbnail caches, Word's owner and scratch files.
  for (long long i = 0; i < files / 200; ++i, ++t.junk) {
    int folder = t.anyRegular(MAX_DEPTH);
    t.addFile(folder, rng.pick(JUNK), rng.logSize(162, 4e5));
  }
  // The recycle bin at the root, and an old drive's bin lower down.
  int bins[] = {t.addFolder(0, "Recycled"), t.addFolder(t.anyRegular(MAX_DEPTH - 1), "RECYCLED")};
  for (long long i = 0; i < std::max(files / 500, 4LL); ++i, ++t.recycled) {
    std::int64_t size;
    std::string name = fileName(rng, size);
    t.addFile(bins[rng.below(2)], rng.percent(50) ? "Dc" + std::to_string(i) + ".doc" : name, size);
  }
  // Plain files, then 10% copies in runs, as a backup folder holds them:
  // same name, size and write time to the nanosecond.
  long long copies = files / 10;
  while (t.files < files - copies) {
    std::int64_t size;
    std::string name = fileName(rng, size);
    t.addFile(t.anyRegular(MAX_DEPTH), name, size);
  }
  while (t.copies < copies) {
    const Folder& from = t.folders[t.anyRegular(MAX_DEPTH)];
    int to = t.anyRegular(MAX_DEPTH);
    if (from.files.empty() || &from == &t.folders[to]) continue;
    std::size_t first = t.rng.below(from.files.size());
    for (std::size_t i = first; i < from.files.size() && i < first + 20 && t.copies < copies; ++i) {
      File f = from.files[i];
      if (t.taken.count(std::to_string(to) + "/" + f.name)) continue;
      t.addFile(to, f.name, f.size, f.seconds, f.nanos, f.readOnly);
      ++t.copies;
    }
  }
  // Forgotten empty folders, alone or in chains.
  while (t.empty < std::max(folders / 50, 4LL)) {
    int parent = t.anyRegular(MAX_DEPTH - 3);
    for (int c = rng.percent(50) ? 1 : rng.range(2, 3); c > 0; --c, ++t.empty) {
      parent = t.addFolder(parent, rng.percent(50) ? "Nuova cartella" : "vuota");
    }
  }
}

bool fail(const std::string& what) {
  std::fprintf(stderr, "make_tree: %s: %s\n", what.c_str(), std::strerror(errno));
  return false;
}

// Writes the files of every folder from next on, one folder at a time.
bool writeFiles(const std::string& root, const Tree& t, std::atomic<std::size_t>& next) {
  for (std::size_t f; (f = next.fetch_add(1)) < t.folders.size();) {
    std::string dir = root + t.folders[f].path;
    for (const File& file : t.folders[f].files) {
      std::string path = dir + "/" + file.name;
      int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                      file.readOnly ? 0444 : 0644);
      timespec times[2] = {{file.seconds, file.nanos}, {file.seconds, file.nanos}};
      bool ok = fd >= 0 && ::ftruncate(fd, file.size) == 0 && ::futimens(fd, times) == 0;
      if (fd >= 0) ::close(fd);
      if (!ok) return fail(path);
    }
  }
  return true;
}

// A chain of depth folders named "d", one inside the other, with one file at the bottom.
int makeChain(const std::string& root, long depth) {
  int dir = ::mkdir(root.c_str(), 0755) == 0 ? ::open(root.c_str(), O_RDONLY | O_DIRECTORY) : -1;
  for (long i = 0; dir >= 0 && i < depth; ++i) {
    int inner = ::mkdirat(dir, "d", 0755) == 0 ? ::openat(dir, "d", O_RDONLY | O_DIRECTORY) : -1;
    ::close(dir);
    dir = inner;
  }
  int fd = dir >= 0 ? ::openat(dir, "fondo.txt", O_WRONLY | O_CREAT | O_EXCL, 0644) : -1;
  if (fd < 0) return fail(root) ? 0 : 1;
  ::close(fd);
  ::close(dir);
  std::printf("a chain of %ld folders holding one file\n", depth);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long seed = 1;
  if (argc == 4 && std::strcmp(argv[1], "--chain") == 0)
    return makeChain(argv[3], std::atol(argv[2]));
  if (argc == 5 && std::strcmp(argv[1], "--seed") == 0) {
    seed = std::strtoull(argv[2], nullptr, 10);
    argv += 2;
    argc -= 2;
  }
  long long files = argc == 3 ? std::atoll(argv[2]) : 0;
  if (files < 100) {
    std::fprintf(stderr,
                 "usage: make_tree [--seed S] DIR FILES (at least 100)\n"
                 "       make_tree --chain DEPTH DIR\n");
    return 2;
  }
  std::string root = argv[1];
  Tree t{Rng{seed * 0x2545f4914f6cdd1dULL + 12345}, {}, {}, {}};
  plan(t, files);
  t.taken = {};
  bool made = ::mkdir(root.c_str(), 0755) == 0 || fail(root + " (it must not exist yet)");
  for (std::size_t f = 1; made && f < t.folders.size(); ++f) {
    made = ::mkdir((root + t.folders[f].path).c_str(), 0755) == 0 || fail(t.folders[f].path);
  }
  if (!made) return 1;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> ok{true};
  std::vector<std::thread> writers;
  for (int i = 0; i < 2; ++i) writers.emplace_back([&] { ok = writeFiles(root, t, next) && ok; });
  for (std::thread& writer : writers) writer.join();
  if (!ok) return 1;
  // Folder times last: every file made in a folder moves its time.
  for (const Folder& folder : t.folders) {
    timespec times[2] = {{TIME_FROM, 0}, {TIME_FROM, 0}};
    ::utimensat(AT_FDCWD, (root + folder.path).c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  std::printf(
      "files %lld, folders %zu (seed %llu)\n"
      "  copies %lld, web pages %lld with their companion folders\n"
      "  junk %lld, in recycle bins %lld, empty folders %lld\n",
      t.files, t.folders.size() - 1, seed, t.copies, t.pages, t.junk, t.recycled, t.empty);
  return 0;
}
