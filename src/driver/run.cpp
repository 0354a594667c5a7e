#include "driver/run.h"

#include "classify/classify.h"
#include "console/number_format.h"
#include "driver/console_progress.h"
#include "folders/folders.h"
#include "platform/platform.h"
#include "reports/reports.h"

namespace doppioni {
namespace {

// The work folder is the process's current directory, held by the process
// from the start: the tree is always reached through it, never by its path,
// so that a work folder moved or replaced while the question waits is still
// the tree that was scanned and shown.
constexpr const char* WORK_FOLDER = ".";

// As for a wrong command line: nothing scanned, nothing written.
constexpr int TREE_HELD_STATUS = 2;

// After the web page count "Trovati N files htm e M file collegati", on a
// row that may hold a longer line.
constexpr std::string_view PAGES_COUNT_BLANKS = "                       ";

// before, the number, after, the blanks and a line feed.
void printCount(Console& console, std::string_view before, std::int64_t number,
                std::string_view after, std::string_view blanks = {}) {
  std::string line(before);
  appendNumber(line, number);
  line.append(after);
  line.append(blanks);
  line.push_back('\n');
  console.print(line);
}

// Where a run stands: its console, how its phases show progress, its
// table, and its options.
struct Run {
  Console& console;
  ConsoleProgress& progress;
  RunContext& ctx;
  const Options& options;
};

// The folder stage: every folder listed and reported, the empty ones
// removed. 0, or -1 when the run stops there (the message is on the console).
int cleanFolders(Run& run, FileId scanned) {
  RunContext& ctx = run.ctx;
  Console& console = run.console;
  run.progress.begin(Phase::FOLDERS, "Compilo l'elenco delle cartelle vuote\n");
  std::optional<Failure> listed = listFolders(ctx, ctx.workDir, WORK_FOLDER, run.options);
  if (listed && listed->kind == FailureKind::FOLDER_UNREADABLE) {
    console.print("Impossibile leggere la cartella di lavoro: nessuna cartella sara' rimossa\n");
  } else if (listed) {
    ctx.folderTableIncomplete = true;
    console.print(
        "MEMORIA INSUFFICIENTE: elenco delle cartelle incompleto, "
        "nessuna cartella sara' rimossa\n");
  } else if (scanned.known() && !(ctx.treeTop == scanned)) {
    // Where the work folder is reached by its path (Windows), another folder
    // may stand there now: its folders were never shown.
    console.print(
        "La cartella di lavoro non e' piu' quella esaminata: nessuna cartella sara' rimossa\n");
    return -1;
  }

  printCount(console, "Trovate ", static_cast<std::int32_t>(ctx.folderTable.size()), " cartelle ");
  console.print("Le ordino   \n");
  sortFoldersByDepth(ctx);
  // Without either report no folder is removed: a folder in the way of one
  // of them stays too.
  if (std::optional<Failure> failure = writeFolderReport(ctx)) {
    tellReportFailure(run.progress, *failure, ": nessuna cartella sara' rimossa");
    return -1;
  }

  run.progress.begin(Phase::REMOVAL, "\nRimuovo le cartelle vuote\n");
  // A folder table that memory could not hold whole removed nothing.
  if (removeEmptyFolders(ctx) != 0 || ctx.folderTableIncomplete) return -1;
  return 0;
}

// Puts back every file that a run killed in this work folder left aside
// under a private name, before anything is scanned, and says so.
void putBackLeftAside(Console& console, const std::string& workDir) {
  std::string lines;
  for (const AsideFile& file : putBackAsideFiles()) {
    const std::string folder =
        file.folder == "." ? workDir : workDir + PATH_SEPARATOR + file.folder;
    lines.append(lines.empty() ? "\n\nIl file " : "Il file ");
    console.appendName(lines, folder + PATH_SEPARATOR + file.name);
    lines.append(", lasciato da parte da un'esecuzione interrotta, ");
    if (!file.failure) {
      lines.append("e' di nuovo al suo posto\n");
      continue;
    }
    lines.append("ora si chiama ");
    console.appendName(lines, folder + PATH_SEPARATOR + file.aside);
    lines.append(file.failure->kind == FailureKind::NAME_TAKEN
                     ? ": un altro file ha preso il suo nome\n"
                     : " (" + errorText(file.failure->error) + ")\n");
  }
  console.print(lines);
}

// The run's start: the table, the work folder's path, the title, and the
// files a killed run left aside put back. The exit status when the run
// cannot go on.
std::optional<int> start(Run& run) {
  Console& console = run.console;
  if (run.ctx.files.grow(TABLE_STEP).has_value()) {
    console.print("MEMORIA INSUFFICIENTE\n");
    return -1;
  }
  if (std::optional<Failure> failure = currentDirectory(run.ctx.workDir)) {
    // Without it the scan would start somewhere else: no other tree is ever cleaned.
    console.print("Impossibile leggere la cartella di lavoro (" + errorText(failure->error) +
                  "): nessun file esaminato\n");
    return -1;
  }
  showTitle(console, run.ctx.workDir);
  putBackLeftAside(console, run.ctx.workDir);
  return std::nullopt;
}

// Every file listed, sorted and marked, and the duplicates report written.
// The exit status when the run cannot go on.
std::optional<int> listAndMark(Run& run) {
  Console& console = run.console;
  RunContext& ctx = run.ctx;
  run.progress.begin(Phase::SCAN, "\n\nPreparo l'elenco dei files presenti\n");
  if (std::optional<Failure> failure = scanFolder(ctx, ctx.workDir, WORK_FOLDER, run.options)) {
    if (failure->kind == FailureKind::FOLDER_UNREADABLE) {
      std::string line;
      console.appendName(line, listingPattern(failure->path));
      console.print(line + "\nINVALID HANDLE\n");
    } else {
      console.print("MEMORIA INSUFFICIENTE\n");
    }
    return -1;
  }
  printCount(console, "Elenco fatto, ", ctx.files.size(), " files trovati");
  console.print("Li ordino\n");
  sortFiles(ctx);

  run.progress.begin(Phase::WEB_PAGES, "Cerco i files htm\n");
  WebPageCounts pages = markWebPages(ctx);
  std::string found = "Trovati " + std::to_string(pages.pages) + " files htm e ";
  printCount(console, found, pages.companions, " file collegati", PAGES_COUNT_BLANKS);
  run.progress.begin(Phase::DUPLICATES, "Cerco i doppioni\n");
  printCount(console, "Trovati ", markDuplicates(ctx), " doppioni");
  run.progress.begin(Phase::JUNK, "Trovo i files inutili\n");
  printCount(console, "Trovati ", markJunkFiles(ctx), " files inutili");

  console.print("Scrivo l'elenco dei file da cancellare\n");
  if (writeDuplicatesReport(ctx)) {  // nothing to decide on without it
    run.progress.print(
        "Impossibile scrivere Rapporto_doppioni.txt: il programma termina senza cancellare "
        "nulla\n");
    return -1;
  }
  return std::nullopt;
}

// The one question; on "s" or "S" the marked files deleted and the empty
// folders removed. The exit status.
int askThenClean(Run& run, FileId scanned) {
  Console& console = run.console;
  console.print("\nPuoi consultare l'elenco dei files da cancellare\n");
  console.print("mettendo a dormire il programma e aprendo il file di testo\n\n");
  std::string where("\"Rapporto_doppioni\" che sta nella cartella\n\n");
  console.appendName(where, run.ctx.workDir);
  console.print(where + "\n\n");
  int key = console.ask("Vuoi cancellare i files ?  (s/n) ");
  if (key != 's' && key != 'S') {
    console.print("\n\nProgramma terminato dall'utente\n");
    console.flush();
    return 1;
  }
  run.progress.begin(Phase::DELETION,
                     run.options.moves() ? "\nSposto i doppioni\n" : "\nCancello i doppioni\n");
  // Without the list, or with an incomplete one, the run goes no further.
  if (deleteMarkedFiles(run.ctx, run.options) != 0) return -1;

  releaseFileTable(run.ctx);
  if (cleanFolders(run, scanned) != 0) return -1;

  console.print(
      "\nFatto. \nPuoi vedere i risultati dell'operazione aprendo con un editor\n"
      "per esempio Word i seguenti files\n\n");
  console.print(
      "Rapporto_doppioni.txt\nElenco_files_cancellati.txt\nRapporto_cartelle.txt\n"
      "Rapporto_rimozione_cartelle.txt\n\n");
  console.ask("Premi un tasto per finire");
  console.flush();
  return 0;
}

}  // namespace

void showTitle(Console& console, const std::string& workDir) {
  console.setCursorShape(CURSOR_NORMAL);
  console.clearScreen();
  console.gotoXY(30, 1);
  console.print("ELIMINAZIONE DOPPIONI\n");
  console.gotoXY(1, 2);
  std::string shown;
  console.appendName(shown, workDir);
  console.print(shown + "\n\n");
  console.print("doppioni " DOPPIONI_VERSION
                "\n"
                "Trova pagine web salvate, files doppi, files inutili e cartelle vuote\n"
                "Non cancella nulla senza chiedertelo");
}

int runDoppioni(Console& console, const Options& options) {
  // A second run in the tree would list its deletions over the first's.
  TreeLock lock;
  // Where the system has no such lock the run goes on without it.
  std::optional<Failure> locked = lockTree(WORK_FOLDER, lock);
  if (locked && locked->kind == FailureKind::TREE_HELD) {
    console.print(
        "Un'altra esecuzione di doppioni sta lavorando in questa cartella, o in una sopra o "
        "sotto di essa: nessun file esaminato\n");
    return TREE_HELD_STATUS;
  }
  ConsoleProgress progress(console);
  RunContext ctx(progress);
  Run run{console, progress, ctx, options};
  if (std::optional<int> status = start(run)) return *status;
  if (std::optional<int> status = listAndMark(run)) return *status;
  // The tree's top as the scan found it: the folder stage must find it again.
  const FileId scanned = ctx.treeTop;
  return askThenClean(run, scanned);
}

}  // namespace doppioni
