// Builds a deterministic folder tree that looks like an old office PC's
// documents: photos, letters, invoices, music, saved web pages with their
// companion folders, backup copies, Office scratch files, a recycle bin and
// forgotten empty folders.
//
//   make_tree [--seed S] [--threads T] DIR FILES
//
// The same FILES and seed always give the same tree (names, sizes, times,
// permissions). Files hold no data: their sizes are set with ftruncate, so
// they are sparse and a million of them take no more disk than their inodes
// and folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

constexpr int MAX_DEPTH = 8;                   // the root's own subfolders are depth 1
constexpr std::int64_t TIME_FROM = 883612800;  // 1998-01-01
constexpr std::int64_t TIME_SPAN = 347155200;  // up to 2008-12-31
constexpr int GENERATOR_VERSION = 1;           // bump when the tree's shape changes

// splitmix64: small, fast, and the same on every platform and library, which
// the standard distributions are not.
struct Rng {
  std::uint64_t state;

  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // 0 .. n-1
  std::uint32_t below(std::uint32_t n) {
    return static_cast<std::uint32_t>((next() >> 32) * n >> 32);
  }
  int range(int low, int high) {  // low .. high inclusive
    return low + static_cast<int>(below(static_cast<std::uint32_t>(high - low + 1)));
  }
  bool percent(int p) { return below(100) < static_cast<std::uint32_t>(p); }
  bool perMille(int p) { return below(1000) < static_cast<std::uint32_t>(p); }
  double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  // Log-uniform between low and high: many small files, a few big ones.
  std::int64_t logSize(double low, double high) {
    return static_cast<std::int64_t>(
        std::exp(std::log(low) + unit() * (std::log(high) - std::log(low))));
  }
  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(static_cast<std::uint32_t>(N))];
  }
};

enum Theme { THEME_PHOTO, THEME_DOCS, THEME_MUSIC, THEME_MIXED, THEME_COUNT };

enum FolderRole { ROLE_REGULAR, ROLE_COMPANION, ROLE_RECYCLED, ROLE_EMPTY };

struct Folder {
  int parent;
  int depth;
  FolderRole role;
  Theme theme;
  std::string name;
  std::string path;  // relative to the tree's root; "" for the root
  int children = 0;
  int nextNumber = 0;         // running number of camera and track names
  std::int64_t baseTime = 0;  // the folder's files were written around this time
};

struct FileSpec {
  int folder;
  std::string name;
  std::int64_t size;
  std::int64_t seconds;
  std::int32_t nanos;
  bool readOnly;
};

struct Counts {
  std::int64_t plain = 0, copies = 0, nearCopies = 0, pages = 0, pageCopies = 0, companionFiles = 0,
               junk = 0, recycled = 0, readOnly = 0, emptyFolders = 0, containerFolders = 0,
               longNames = 0, bytes = 0;
};

struct Plan {
  std::vector<Folder> folders;
  std::vector<FileSpec> files;
  std::vector<int> regular;               // indexes of regular folders
  std::unordered_set<std::string> taken;  // folder index + '/' + name
  Counts counts;
};

// ---------------------------------------------------------------- names

const char* const PLACES[] = {"Roma",     "Venezia",    "Firenze",        "Napoli",
                              "Sardegna", "Perù",       "Città del Capo", "Parigi",
                              "Londra",   "Cortina",    "Lecce",          "Gardaland",
                              "Taormina", "Courmayeur", "Praga",          "Sicilia"};
const char* const PEOPLE[] = {"Luca",   "Giulia", "Marco",   "Francesca", "nonna Maria", "Andrea",
                              "Chiara", "Paolo",  "Niccolò", "Elena",     "zio Beppe",   "Sara"};
const char* const EVENTS[] = {"Vacanze",   "Natale",    "Matrimonio", "Compleanno", "Gita",
                              "Battesimo", "Capodanno", "Laurea",     "Festa",      "Comunione"};
const char* const DOC_FOLDERS[] = {
    "Documenti",      "Lavoro",     "Fatture",   "Clienti",    "Relazioni", "Scuola",
    "Tesi",           "Preventivi", "Contratti", "Università", "Attività",  "Amministrazione",
    "Corrispondenza", "Società",    "Ufficio",   "Condominio", "Tasse",     "Progetti"};
const char* const MUSIC_FOLDERS[] = {"Musica",
                                     "MP3",
                                     "De André",
                                     "Battisti - Emozioni",
                                     "Vasco",
                                     "Mina",
                                     "Lucio Dalla",
                                     "Compilation estate",
                                     "Sanremo",
                                     "Pausini",
                                     "Zucchero - Oro incenso e birra"};
const char* const MIXED_FOLDERS[] = {
    "Nuova cartella",     "Backup",  "Varie",    "Download",      "Programmi", "Posta",
    "Copia di Documenti", "Desktop", "Archivio", "vecchi",        "TEMP",      "Da sistemare",
    "Cose di casa",       "Ricette", "Giochi",   "Installazioni", "Già visti"};
const char* const SONGS[] = {"Il cielo in una stanza",
                             "Azzurro",
                             "Volare",
                             "La donna cannone",
                             "Caruso",
                             "Vita spericolata",
                             "Perché lo fai",
                             "Città vuota",
                             "Emozioni",
                             "Albachiara",
                             "Una lunga storia d'amore",
                             "Margherita",
                             "L'emozione non ha voce",
                             "Più bella cosa",
                             "Sarà perché ti amo"};
const char* const DOC_TOPICS[] = {
    "finale",   "trimestrale",     "annuale", "tecnica",        "preliminare",  "di progetto",
    "riunione", "attività svolte", "spese",   "sull'andamento", "del comitato", "per il Comune"};
const char* const PAGE_TITLES[] = {
    "Pagina iniziale",       "Google",           "Repubblica.it - Home", "Corriere della Sera",
    "Ricetta tiramisù",      "Wikipedia - Roma", "Orari treni",          "Meteo",
    "Offerte voli",          "Il Sole 24 Ore",   "Gazzetta dello Sport", "Programmi TV",
    "Biglietti concerto",    "Guida Linux",      "Mappa Città",          "Forum auto",
    "Agenzia delle Entrate", "Come fare il pane"};
const char* const PHOTO_EXT[] = {".JPG", ".jpg", ".JPG", ".jpg", ".Jpg", ".jpeg"};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char buffer[512];
  va_list args;
  va_start(args, pattern);
  int length = std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  if (length < 0) return std::string();
  return std::string(buffer, std::min(static_cast<std::size_t>(length), sizeof buffer - 1));
}

std::string folderName(Rng& rng, Theme theme) {
  int year = rng.range(1998, 2008);
  switch (theme) {
    case THEME_PHOTO:
      switch (rng.below(6)) {
        case 0:
          return format("Foto %d", year);
        case 1:
          return format("%s %s %d", rng.pick(EVENTS), rng.pick(PLACES), year);
        case 2:
          return format("%s di %s", rng.pick(EVENTS), rng.pick(PEOPLE));
        case 3:
          return format("%03dCANON", rng.range(100, 130));
        case 4:
          return "DCIM";
        default:
          return format("%s %02d-%d", rng.pick(PLACES), rng.range(1, 12), year);
      }
    case THEME_DOCS:
      switch (rng.below(4)) {
        case 0:
          return format("%s %d", rng.pick(DOC_FOLDERS), year);
        case 1:
          return format("%s %s", rng.pick(DOC_FOLDERS), rng.pick(PEOPLE));
        default:
          return rng.pick(DOC_FOLDERS);
      }
    case THEME_MUSIC:
      return rng.percent(70) ? std::string(rng.pick(MUSIC_FOLDERS))
                             : format("CD %d - %s", rng.range(1, 20), rng.pick(MUSIC_FOLDERS));
    default:
      return rng.percent(70) ? std::string(rng.pick(MIXED_FOLDERS))
                             : format("%s (%d)", rng.pick(MIXED_FOLDERS), rng.range(2, 9));
  }
}

// A long folder name now and then, so that deep paths pass 260 bytes.
const char* const LONG_NAMES[] = {
    "Documenti importanti da non cancellare assolutamente - copia di sicurezza del",
    "Materiale raccolto per la relazione di fine anno con tutte le fotografie allegate",
    "Archivio della corrispondenza con lo studio del commercialista e con la banca",
};

std::string fileName(Rng& rng, Folder& folder) {
  int year = rng.range(1998, 2008);
  switch (folder.theme) {
    case THEME_PHOTO:
      switch (rng.below(10)) {
        case 0:
        case 1:
        case 2:
          return format("IMG_%04d%s", folder.nextNumber++ % 10000, rng.pick(PHOTO_EXT));
        case 3:
        case 4:
          return format("DSC%05d.jpg", folder.nextNumber++ % 100000);
        case 5:
          return format("DSCN%04d.JPG", folder.nextNumber++ % 10000);
        case 6:
          return format("P%07d.JPG", folder.nextNumber++);
        case 7:
          return format("%s %d.jpg", rng.pick(PLACES), rng.range(1, 300));
        case 8:
          return format("Immagine %03d.jpg", rng.range(1, 999));
        default:
          return format("foto %s %d.jpg", rng.pick(PEOPLE), rng.range(1, 99));
      }
    case THEME_DOCS:
      switch (rng.below(16)) {
        case 0:
          return format("Relazione %s %d.doc", rng.pick(DOC_TOPICS), year);
        case 1:
        case 2:
          return format("fattura_%d_%02d.pdf", year, rng.range(1, 12));
        case 3:
          return format("Lettera a %s.doc", rng.pick(PEOPLE));
        case 4:
          return format("Preventivo n. %d.xls", rng.range(1, 999));
        case 5:
          return format("Curriculum %s.doc", rng.pick(PEOPLE));
        case 6:
          return format("Verbale riunione %02d-%02d-%d.doc", rng.range(1, 28), rng.range(1, 12),
                        year);
        case 7:
          return format("Bilancio %d.xls", year);
        case 8:
          return format("Presentazione %s.ppt", rng.pick(PLACES));
        case 9:
          return "Nuovo Documento di testo.txt";
        case 10:
          return format("Copia di Relazione %s.doc", rng.pick(DOC_TOPICS));
        case 11:
          return format("Note sull'attività %d.rtf", rng.range(1, 50));
        case 12:
          return format("contratto_%s_%d.PDF", rng.pick(PEOPLE), year);
        case 13:
          return format("Sconto %d%%.doc", rng.range(5, 50) / 5 * 5);  // a '%' in a name
        case 14:
          return format("Perché no - bozza %d.DOC", rng.range(1, 9));
        default:
          return format("appunti %d.txt", rng.range(1, 99));
      }
    case THEME_MUSIC:
      switch (rng.below(6)) {
        case 0:
          return format("Track %02d.mp3", folder.nextNumber++ % 100);
        case 1:
          return format("Traccia %02d.wma", folder.nextNumber++ % 100);
        case 2:
          return rng.percent(50) ? "Folder.jpg" : "AlbumArtSmall.jpg";
        default:
          return format("%02d - %s.mp3", folder.nextNumber++ % 100, rng.pick(SONGS));
      }
    default:
      switch (rng.below(12)) {
        case 0:
          return "setup.exe";
        case 1:
          return rng.percent(50) ? "readme.txt" : "LEGGIMI.TXT";
        case 2:
          return "autorun.inf";
        case 3:
          return format("backup_%d%02d%02d.zip", year, rng.range(1, 12), rng.range(1, 28));
        case 4:
          return "desktop.ini";
        case 5:
          return format("Ricetta %s.doc", rng.pick(SONGS));
        case 6:
          return format("Collegamento a %s.lnk", rng.pick(DOC_FOLDERS));
        case 7:
          return format("%s & %s.jpg", rng.pick(PEOPLE), rng.pick(PEOPLE));
        case 8:
          return format("Scan%04d.tif", rng.range(1, 9999));
        case 9:
          return format("Giochi (%d).zip", rng.range(1, 9));
        case 10:
          return format("lista della spesa %d.txt", rng.range(1, 99));
        default:
          return format("Documento %d.doc", rng.range(1, 200));
      }
  }
}

std::int64_t sizeFor(Rng& rng, std::string_view name) {
  std::size_t dot = name.rfind('.');
  std::string ext;
  for (char c : name.substr(dot == std::string_view::npos ? name.size() : dot)) {
    ext += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  if (ext == ".txt" && rng.percent(30)) return 0;  // "Nuovo Documento di testo.txt"
  if (ext == ".jpg" || ext == ".jpeg") return rng.logSize(20e3, 4e6);
  if (ext == ".doc" || ext == ".rtf") return rng.logSize(10e3, 2e6);
  if (ext == ".pdf") return rng.logSize(20e3, 5e6);
  if (ext == ".xls" || ext == ".ppt") return rng.logSize(10e3, 3e6);
  if (ext == ".mp3" || ext == ".wma") return rng.logSize(1e6, 12e6);
  if (ext == ".zip" || ext == ".exe" || ext == ".tif") return rng.logSize(50e3, 50e6);
  if (ext == ".gif" || ext == ".png") return rng.logSize(200, 80e3);
  if (ext == ".htm" || ext == ".html") return rng.logSize(3e3, 300e3);
  return rng.logSize(1, 40e3);
}

// ---------------------------------------------------------------- plan

std::string key(int folder, std::string_view name) {
  std::string k = std::to_string(folder);
  k += '/';
  k += name;
  return k;
}

// Takes name in folder; when it is taken, tries "name (2)", "name (3)"...
// before the extension. Returns the name used.
std::string claim(Plan& plan, int folder, std::string name, bool isFolder) {
  if (plan.taken.insert(key(folder, name)).second) return name;
  std::size_t dot = isFolder ? std::string::npos : name.rfind('.');
  std::string stem = name.substr(0, dot);
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
  for (int n = 2;; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
    if (plan.taken.insert(key(folder, candidate)).second) return candidate;
  }
}

int addFolder(Plan& plan, Rng& rng, int parent, FolderRole role, Theme theme, std::string name) {
  Folder folder;
  folder.parent = parent;
  folder.depth = plan.folders[parent].depth + 1;
  folder.role = role;
  folder.theme = theme;
  folder.name = claim(plan, parent, std::move(name), true);
  folder.path = plan.folders[parent].path.empty() ? folder.name
                                                  : plan.folders[parent].path + "/" + folder.name;
  folder.nextNumber = rng.range(1, 9000);
  folder.baseTime =
      TIME_FROM + static_cast<std::int64_t>(rng.unit() * static_cast<double>(TIME_SPAN));
  plan.folders[parent].children++;
  plan.folders.push_back(std::move(folder));
  return static_cast<int>(plan.folders.size()) - 1;
}

// Returns false when the name is taken in that folder.
bool addFile(Plan& plan, int folder, std::string name, std::int64_t size, std::int64_t seconds,
             std::int32_t nanos, bool readOnly) {
  if (!plan.taken.insert(key(folder, name)).second) return false;
  plan.files.push_back(FileSpec{folder, std::move(name), size, seconds, nanos, readOnly});
  plan.counts.bytes += size;
  if (readOnly) plan.counts.readOnly++;
  return true;
}

void fileTime(Rng& rng, const Folder& folder, std::int64_t& seconds, std::int32_t& nanos) {
  // Within two months of the folder's own time, whole-second part and all.
  seconds = folder.baseTime + static_cast<std::int64_t>(rng.below(60u * 86400u));
  nanos = static_cast<std::int32_t>(rng.below(1000000000u));
}

Theme randomTheme(Rng& rng) {
  std::uint32_t r = rng.below(100);
  if (r < 35) return THEME_PHOTO;
  if (r < 70) return THEME_DOCS;
  if (r < 82) return THEME_MUSIC;
  return THEME_MIXED;
}

// A random regular folder no deeper than maxDepth.
int regularFolder(Plan& plan, Rng& rng, int maxDepth) {
  for (;;) {
    int f = plan.regular[rng.below(static_cast<std::uint32_t>(plan.regular.size()))];
    if (plan.folders[f].depth <= maxDepth) return f;
  }
}

void planFolders(Plan& plan, Rng& rng, std::int64_t regularCount) {
  // How many folders each depth gets, in per mille; an office tree is narrow
  // at the top and bushy in the middle. Level by level, so that every folder
  // of a level can receive children, the first ones a little more often.
  constexpr int LEVEL_SHARE[MAX_DEPTH + 1] = {0, 5, 40, 140, 240, 240, 170, 100, 65};
  std::vector<int> previous{0};
  std::int64_t made = 0;
  for (int depth = 1; depth <= MAX_DEPTH && made < regularCount; ++depth) {
    std::int64_t count = regularCount * LEVEL_SHARE[depth] / 1000;
    if (depth == 1) count = std::clamp<std::int64_t>(count, 3, 60);
    if (depth == MAX_DEPTH) count = regularCount - made;
    count = std::min(count, regularCount - made);
    std::vector<int> current;
    current.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
      double u = rng.unit();
      int parent = previous[static_cast<std::size_t>(u * u * static_cast<double>(previous.size()))];
      // Photo folders mostly sit among photo folders, and so on.
      Theme theme = parent != 0 && rng.percent(70) ? plan.folders[parent].theme : randomTheme(rng);
      std::string name = rng.perMille(8)
                             ? format("%s %d", rng.pick(LONG_NAMES), rng.range(1998, 2008))
                             : folderName(rng, theme);
      if (name.size() > 60) plan.counts.longNames++;
      int f = addFolder(plan, rng, parent, ROLE_REGULAR, theme, std::move(name));
      current.push_back(f);
      plan.regular.push_back(f);
    }
    made += count;
    previous = std::move(current);
  }
}

// Spreads the plain files over the regular folders by weight; about one
// folder in four that has subfolders keeps no files of its own.
void planPlainFiles(Plan& plan, Rng& rng, std::int64_t count) {
  std::vector<double> cumulative;
  cumulative.reserve(plan.regular.size());
  double total = 0;
  constexpr double FACTORS[] = {0.2, 0.5, 1.0, 1.0, 1.5, 2.5, 4.0};
  for (int f : plan.regular) {
    const Folder& folder = plan.folders[f];
    double weight = folder.theme == THEME_PHOTO ? 2.5 : folder.theme == THEME_MIXED ? 0.7 : 1.0;
    weight *= rng.pick(FACTORS);
    if (folder.children > 0 && rng.percent(25)) {
      weight = 0;
      plan.counts.containerFolders++;
    }
    total += weight;
    cumulative.push_back(total);
  }
  for (std::int64_t made = 0; made < count;) {
    double at = rng.unit() * total;
    std::size_t i = static_cast<std::size_t>(
        std::upper_bound(cumulative.begin(), cumulative.end(), at) - cumulative.begin());
    if (i >= cumulative.size()) i = cumulative.size() - 1;
    Folder& folder = plan.folders[plan.regular[i]];
    std::string name = fileName(rng, folder);
    std::int64_t size = sizeFor(rng, name);
    std::int64_t seconds;
    std::int32_t nanos;
    fileTime(rng, folder, seconds, nanos);
    if (addFile(plan, plan.regular[i], std::move(name), size, seconds, nanos, rng.perMille(5))) {
      ++made;
      plan.counts.plain++;
    }
  }
}

// Copies: runs of files taken from one folder into another, as a backup or a
// "Copia di" folder would hold them, and, among them, near copies that must
// not count as copies: the same name and size but another write time (an
// hour off, a second off, or a single microsecond).
void planCopies(Plan& plan, Rng& rng, std::int64_t copies, std::int64_t near) {
  std::size_t sources = plan.files.size();
  std::int64_t madeCopies = 0, madeNear = 0;
  // Bounded, so that a tiny tree with too few places to copy into still ends.
  for (std::int64_t tries = 0;
       (madeCopies < copies || madeNear < near) && tries < 100 * (copies + near); ++tries) {
    bool nearRun = madeNear < near && (madeCopies >= copies || rng.percent(10));
    std::size_t start = rng.below(static_cast<std::uint32_t>(sources));
    int from = plan.files[start].folder;
    int to = regularFolder(plan, rng, MAX_DEPTH);
    int run = rng.range(1, 20);
    for (std::size_t i = start; run > 0 && i < sources && plan.files[i].folder == from; ++i) {
      // Copies of copies come about as well: the source may itself be a copy.
      FileSpec source =
          plan.files[rng.percent(90) ? i
                                     : rng.below(static_cast<std::uint32_t>(plan.files.size()))];
      if (source.folder == to) continue;
      std::int64_t seconds = source.seconds;
      std::int32_t nanos = source.nanos;
      if (nearRun) {
        switch (rng.below(3)) {
          case 0:
            seconds += 3600;
            break;
          case 1:
            seconds += 1;
            break;
          default:
            nanos = nanos >= 1000 ? nanos - 1000 : nanos + 1000;
            break;
        }
      }
      if (!addFile(plan, to, source.name, source.size, seconds, nanos, source.readOnly)) continue;
      --run;
      if (nearRun) {
        plan.counts.nearCopies++;
        if (++madeNear >= near) break;
      } else {
        plan.counts.copies++;
        if (++madeCopies >= copies) break;
      }
    }
  }
}

const char* const COMPANION_FILES[] = {"image001.gif", "image002.jpg", "filelist.xml",
                                       "image003.png", "style.css",    "script.js",
                                       "logo.gif",     "banner.jpg"};

// A saved page "stem.htm" and its folder "stem_file" beside it.
void addPage(Plan& plan, Rng& rng, int folder, const std::string& stem, const std::string& ext,
             int parts, std::int64_t seconds, std::int32_t nanos, std::int64_t pageSize) {
  addFile(plan, folder, stem + ext, pageSize, seconds, nanos, false);
  int companion = addFolder(plan, rng, folder, ROLE_COMPANION, THEME_MIXED, stem + "_file");
  for (int p = 0; p < parts; ++p) {
    // Sizes and times follow from the page's own, so a copied page's parts match too.
    Rng partRng{static_cast<std::uint64_t>(seconds) * 31 + static_cast<std::uint64_t>(p)};
    std::string name = COMPANION_FILES[p];
    addFile(plan, companion, name, sizeFor(partRng, name), seconds,
            static_cast<std::int32_t>(partRng.below(1000000000u)), false);
  }
  plan.counts.companionFiles += parts;
}

std::int64_t planPages(Plan& plan, Rng& rng, std::int64_t pages, std::int64_t pageCopies) {
  struct Saved {
    std::string stem, ext;
    int parts;
    std::int64_t seconds, size;
    std::int32_t nanos;
  };
  std::vector<Saved> saved;
  std::int64_t files = 0;
  std::int64_t tries = 0;
  for (std::int64_t i = 0; i < pages && tries < 100 * pages; ++i, ++tries) {
    int folder = regularFolder(plan, rng, MAX_DEPTH - 1);
    std::string stem = format("%s %d", rng.pick(PAGE_TITLES), rng.range(1, 400));
    const char* ext = rng.percent(60) ? ".htm" : rng.percent(80) ? ".html" : ".HTM";
    if (plan.taken.count(key(folder, stem + ext)) ||
        plan.taken.count(key(folder, stem + "_file"))) {
      --i;
      continue;
    }
    Saved s{stem, ext, rng.range(2, 8), 0, rng.logSize(3e3, 300e3), 0};
    fileTime(rng, plan.folders[folder], s.seconds, s.nanos);
    addPage(plan, rng, folder, s.stem, s.ext, s.parts, s.seconds, s.nanos, s.size);
    files += 1 + s.parts;
    plan.counts.pages++;
    saved.push_back(std::move(s));
  }
  for (std::int64_t i = 0; i < pageCopies && !saved.empty() && tries < 200 * pages; ++i, ++tries) {
    const Saved& s = saved[rng.below(static_cast<std::uint32_t>(saved.size()))];
    int folder = regularFolder(plan, rng, MAX_DEPTH - 1);
    if (plan.taken.count(key(folder, s.stem + s.ext)) ||
        plan.taken.count(key(folder, s.stem + "_file"))) {
      --i;
      continue;
    }
    addPage(plan, rng, folder, s.stem, s.ext, s.parts, s.seconds, s.nanos, s.size);
    files += 1 + s.parts;
    plan.counts.pageCopies++;
  }
  return files;
}

// Explorer's thumbnail caches, Word's owner files and Word's temporary files.
void planJunk(Plan& plan, Rng& rng, std::int64_t count) {
  for (std::int64_t made = 0; made < count;) {
    int f = regularFolder(plan, rng, MAX_DEPTH);
    Folder& folder = plan.folders[f];
    std::string name;
    std::int64_t size;
    bool readOnly = false;
    std::uint32_t r = rng.below(10);
    if (r < 5) {
      name = rng.percent(80) ? "Thumbs.db" : rng.percent(50) ? "thumbs.db" : "THUMBS.DB";
      size = rng.logSize(5e3, 400e3);
      readOnly = rng.percent(30);  // hidden and read-only on the old machine
    } else if (r < 8) {
      name = format("~$%s.doc", rng.percent(50) ? "lazione finale" : "ttera a Luca");
      size = 162;
    } else {
      name = format("~WRL%04d.tmp", rng.range(1, 3999));
      size = rng.logSize(10e3, 1e6);
    }
    std::int64_t seconds;
    std::int32_t nanos;
    fileTime(rng, folder, seconds, nanos);
    if (addFile(plan, f, std::move(name), size, seconds, nanos, readOnly)) {
      ++made;
      plan.counts.junk++;
    }
  }
}

// The recycle bin at the root, with a deleted folder inside it, and an old
// drive's bin kept in a backup folder under another spelling.
void planRecycled(Plan& plan, Rng& rng, std::int64_t count, int& foldersUsed) {
  int bin = addFolder(plan, rng, 0, ROLE_RECYCLED, THEME_MIXED, "Recycled");
  int deleted = addFolder(plan, rng, bin, ROLE_RECYCLED, THEME_DOCS, "Dc41");
  int host = regularFolder(plan, rng, MAX_DEPTH - 2);
  int oldBin = addFolder(plan, rng, host, ROLE_RECYCLED, THEME_PHOTO, "RECYCLED");
  foldersUsed = 3;
  int targets[] = {bin, bin, deleted, oldBin};
  std::int64_t made = 0;
  for (const char* fixed : {"INFO2", "desktop.ini"}) {
    std::int64_t seconds;
    std::int32_t nanos;
    fileTime(rng, plan.folders[bin], seconds, nanos);
    if (addFile(plan, bin, fixed, rng.logSize(20, 20e3), seconds, nanos, false)) ++made;
  }
  for (int n = 1; made < count; ++n) {
    int f = rng.pick(targets);
    Folder& folder = plan.folders[f];
    std::string name =
        f == bin ? format("Dc%d%s", n, rng.percent(50) ? ".doc" : ".jpg") : fileName(rng, folder);
    std::int64_t seconds;
    std::int32_t nanos;
    fileTime(rng, folder, seconds, nanos);
    if (addFile(plan, f, name, sizeFor(rng, name), seconds, nanos, rng.perMille(20))) ++made;
  }
  plan.counts.recycled = made;
}

// Forgotten empty folders, alone or in chains of empty folders.
void planEmptyFolders(Plan& plan, Rng& rng, std::int64_t count) {
  const char* const NAMES[] = {"Nuova cartella",     "vuota", "Da fare", "Foto da scaricare", "tmp",
                               "Nuova cartella (2)", "Prova"};
  for (std::int64_t made = 0; made < count;) {
    int chain = rng.percent(50) ? 1 : rng.range(2, 4);
    chain = static_cast<int>(std::min<std::int64_t>(chain, count - made));
    int parent = regularFolder(plan, rng, MAX_DEPTH - chain);
    for (int c = 0; c < chain; ++c) {
      parent = addFolder(plan, rng, parent, ROLE_EMPTY, THEME_MIXED, rng.pick(NAMES));
    }
    made += chain;
  }
  plan.counts.emptyFolders = count;
}

Plan makePlan(std::int64_t files, std::uint64_t seed) {
  Plan plan;
  Rng rng{seed * 0x2545f4914f6cdd1dULL + 12345};
  plan.folders.push_back(Folder{-1, 0, ROLE_REGULAR, THEME_MIXED, "", "", 0, 0, TIME_FROM});
  plan.files.reserve(static_cast<std::size_t>(files));
  plan.taken.reserve(static_cast<std::size_t>(files + files / 8));

  std::int64_t folders = std::max<std::int64_t>(files / 10, 20);
  std::int64_t pages = std::max<std::int64_t>(files / 100, 1);
  std::int64_t pageCopies = std::max<std::int64_t>(pages / 10, 1);
  std::int64_t empty = std::max<std::int64_t>(folders / 50, 4);
  std::int64_t regular = std::max<std::int64_t>(folders - pages - pageCopies - empty - 3, 10);
  std::int64_t junk = std::max<std::int64_t>(files / 200, 3);
  std::int64_t recycled = std::max<std::int64_t>(files / 500, 4);

  planFolders(plan, rng, regular);
  // Pages are planned before the plain files only to learn how many files
  // they take; the plain files then make up the rest.
  std::int64_t pageFiles = planPages(plan, rng, pages, pageCopies);
  std::int64_t copies = std::max<std::int64_t>(files / 10 - pageCopies * 6, 1);
  std::int64_t near = std::max<std::int64_t>(files / 100, 1);
  std::int64_t plain = files - pageFiles - copies - near - junk - recycled;
  if (plain < 10) plain = 10;
  planPlainFiles(plan, rng, plain);
  planCopies(plan, rng, copies, near);
  planJunk(plan, rng, junk);
  int recycledFolders = 0;
  planRecycled(plan, rng, recycled, recycledFolders);
  planEmptyFolders(plan, rng, empty);
  return plan;
}

// ---------------------------------------------------------------- writing

int makeFolders(const std::string& root, const Plan& plan) {
  std::string path;
  for (std::size_t i = 1; i < plan.folders.size(); ++i) {
    path = root + "/" + plan.folders[i].path;
    if (::mkdir(path.c_str(), 0755) != 0) {
      std::fprintf(stderr, "make_tree: mkdir %s: %s\n", path.c_str(), std::strerror(errno));
      return errno;
    }
  }
  return 0;
}

// Writes the files of folders [first, last) of the plan; files are sorted by folder.
int writeFiles(const std::string& root, const Plan& plan, const std::vector<std::size_t>& starts,
               std::atomic<std::size_t>& nextFolder) {
  constexpr std::size_t BATCH = 64;
  for (;;) {
    std::size_t from = nextFolder.fetch_add(BATCH);
    if (from >= plan.folders.size()) return 0;
    std::size_t to = std::min(from + BATCH, plan.folders.size());
    for (std::size_t f = from; f < to; ++f) {
      if (starts[f] == starts[f + 1]) continue;
      std::string path = plan.folders[f].path.empty() ? root : root + "/" + plan.folders[f].path;
      int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dir < 0) {
        std::fprintf(stderr, "make_tree: open %s: %s\n", path.c_str(), std::strerror(errno));
        return errno;
      }
      for (std::size_t i = starts[f]; i < starts[f + 1]; ++i) {
        const FileSpec& file = plan.files[i];
        int fd = ::openat(dir, file.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          file.readOnly ? 0444 : 0644);
        if (fd < 0 || (file.size > 0 && ::ftruncate(fd, file.size) != 0)) {
          int error = errno;
          std::fprintf(stderr, "make_tree: %s/%s: %s\n", path.c_str(), file.name.c_str(),
                       std::strerror(error));
          if (fd >= 0) ::close(fd);
          ::close(dir);
          return error;
        }
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(file.seconds);
        times[0].tv_nsec = times[1].tv_nsec = file.nanos;
        if (::futimens(fd, times) != 0) {
          int error = errno;
          std::fprintf(stderr, "make_tree: times of %s/%s: %s\n", path.c_str(), file.name.c_str(),
                       std::strerror(error));
          ::close(fd);
          ::close(dir);
          return error;
        }
        ::close(fd);
      }
      ::close(dir);
    }
  }
}

// Folder times last, since every file made in a folder moves its time.
void setFolderTimes(const std::string& root, const Plan& plan) {
  for (std::size_t i = 0; i < plan.folders.size(); ++i) {
    const Folder& folder = plan.folders[i];
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(folder.baseTime);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    std::string path = folder.path.empty() ? root : root + "/" + folder.path;
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

bool parseNumber(const char* text, std::uint64_t& value) {
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return false;
  value = v;
  return true;
}

int usage() {
  std::fprintf(stderr, "usage: make_tree [--seed S] [--threads T] DIR FILES\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t seed = 1, threads = 2, files = 0;
  std::vector<const char*> positional;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if ((arg == "--seed" || arg == "--threads") && i + 1 < argc) {
      if (!parseNumber(argv[++i], arg == "--seed" ? seed : threads)) return usage();
    } else if (arg == "--version") {
      std::printf("make_tree %d\n", GENERATOR_VERSION);
      return 0;
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 2 || !parseNumber(positional[1], files) || files < 100 || threads < 1) {
    return usage();
  }
  std::string root = positional[0];

  auto started = std::chrono::steady_clock::now();
  Plan plan = makePlan(static_cast<std::int64_t>(files), seed);
  plan.taken = {};
  std::stable_sort(plan.files.begin(), plan.files.end(),
                   [](const FileSpec& a, const FileSpec& b) { return a.folder < b.folder; });
  std::vector<std::size_t> starts(plan.folders.size() + 1, 0);
  for (const FileSpec& file : plan.files) starts[static_cast<std::size_t>(file.folder) + 1]++;
  for (std::size_t i = 1; i < starts.size(); ++i) starts[i] += starts[i - 1];
  auto planned = std::chrono::steady_clock::now();

  if (::mkdir(root.c_str(), 0755) != 0) {
    std::fprintf(stderr, "make_tree: mkdir %s: %s (the folder must not exist)\n", root.c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (makeFolders(root, plan) != 0) return 1;
  std::atomic<std::size_t> nextFolder{0};
  std::vector<int> results(threads, 0);
  std::vector<std::thread> workers;
  for (std::size_t t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] { results[t] = writeFiles(root, plan, starts, nextFolder); });
  }
  for (std::thread& worker : workers) worker.join();
  for (int result : results) {
    if (result != 0) return 1;
  }
  setFolderTimes(root, plan);
  auto written = std::chrono::steady_clock::now();

  const Counts& c = plan.counts;
  auto seconds = [](auto from, auto to) {
    return std::chrono::duration<double>(to - from).count();
  };
  std::printf("files %zu, folders %zu (generator %d, seed %" PRIu64
              ")\n"
              "  plain %" PRId64 ", copies %" PRId64
              ", near copies (same name and size, other time) %" PRId64 "\n  web pages %" PRId64
              " + copied pages %" PRId64 " with %" PRId64
              " companion files\n"
              "  junk %" PRId64 ", in recycle bins %" PRId64 ", read-only %" PRId64
              "\n"
              "  empty folders %" PRId64 ", folders without files of their own %" PRId64
              ", long folder names %" PRId64
              "\n"
              "  apparent size %.1f GB (sparse)\n"
              "  planned in %.2f s, written in %.2f s\n",
              plan.files.size(), plan.folders.size() - 1, GENERATOR_VERSION, seed, c.plain,
              c.copies, c.nearCopies, c.pages, c.pageCopies, c.companionFiles, c.junk, c.recycled,
              c.readOnly, c.emptyFolders, c.containerFolders, c.longNames,
              static_cast<double>(c.bytes) / 1e9, seconds(started, planned),
              seconds(planned, written));
  return 0;
}
