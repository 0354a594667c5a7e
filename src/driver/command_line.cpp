#include "driver/command_line.h"

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace doppioni {
namespace {

constexpr int WRONG_COMMAND_STATUS = 2;

const char USAGE[] =
    "Uso: doppioni [cartella]\n"
    "\n"
    "Pulisce l'albero di cartelle sotto la cartella indicata, o sotto quella\n"
    "corrente se non ne indichi una: trova pagine web salvate, files doppi,\n"
    "files inutili e cartelle vuote.\n"
    "\n"
    "Prima di cancellare qualsiasi cosa scrive Rapporto_doppioni.txt e chiede\n"
    "una sola volta se cancellare (un tasto: s o S per si'). I tasti premuti\n"
    "mentre lavora sono ignorati.\n"
    "\n"
    "Rapporti scritti nella cartella:\n"
    "  Rapporto_doppioni.txt            ogni file e se va cancellato\n"
    "  Elenco_files_cancellati.txt      ogni cancellazione tentata\n"
    "  Rapporto_cartelle.txt            ogni cartella e i suoi files\n"
    "  Rapporto_rimozione_cartelle.txt  ogni rimozione di cartella vuota\n"
    "\n"
    "Opzioni:\n"
#ifdef _WIN32
    "  -h, --help, /?  mostra questo aiuto\n"
#else
    "  -h, --help      mostra questo aiuto\n"
#endif
    "  --version       mostra la versione\n"
    "\n"
    "Stato di uscita:\n"
    "  0   esecuzione completa\n"
    "  1   la risposta non era s o S\n"
    "  2   riga di comando errata, o un'altra esecuzione lavora nell'albero\n"
    "  -1  (255 nella shell) impossibile proseguire\n";

CommandLine wrong(std::string problem) {
  return {CommandKind::WRONG, {}, "doppioni: " + problem + "\nPer l'uso: doppioni --help\n"};
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return {};
  if (arguments.size() > 1) return wrong("troppi argomenti: si indica una cartella sola");
  const std::string& argument = arguments[0];
#ifdef _WIN32
  if (argument == "/?") return {CommandKind::HELP, {}, {}};
#endif
  if (argument == "-h" || argument == "--help") return {CommandKind::HELP, {}, {}};
  if (argument == "--version") return {CommandKind::VERSION, {}, {}};
  if (argument.empty()) return wrong("argomento vuoto: manca il nome della cartella");
  if (argument.starts_with('-')) return wrong("opzione sconosciuta \"" + argument + "\"");
  return {CommandKind::RUN, argument, {}};
}

CommandLine enterWorkFolder(CommandLine command) {
  if (command.kind != CommandKind::RUN || command.folder.empty()) return command;
  std::optional<Failure> failure = enterFolder(command.folder);
  if (!failure) return command;
  const std::string name = "\"" + command.folder + "\"";
  if (failure->error == ENOENT) return wrong("la cartella " + name + " non esiste");
  if (failure->error == ENOTDIR) return wrong(name + " non e' una cartella");
  return wrong("impossibile entrare nella cartella " + name + " (" + errorText(failure->error) +
               ")");
}

int answerCommand(const CommandLine& command) {
  switch (command.kind) {
    case CommandKind::HELP:
      std::fputs(USAGE, stdout);
      return 0;
    case CommandKind::VERSION:
      std::fputs("doppioni " DOPPIONI_VERSION "\n", stdout);
      return 0;
    default:
      std::fputs(command.message.c_str(), stderr);
      return WRONG_COMMAND_STATUS;
  }
}

}  // namespace doppioni
