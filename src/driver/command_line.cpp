#include "driver/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace doppioni {
namespace {

constexpr int WRONG_COMMAND_STATUS = 2;

const char USAGE[] =
    "Uso: doppioni [--] [cartella]\n"
    "     doppioni -h | --help | --version\n"
    "\n"
    "Fa pulizia nell'albero di cartelle sotto la cartella indicata, o sotto\n"
    "quella corrente se non ne indichi nessuna: trova le pagine web salvate,\n"
    "i file doppi, i file inutili e le cartelle vuote.\n"
    "\n"
    "Prima di cancellare qualsiasi cosa scrive Rapporto_doppioni.txt e fa una\n"
    "sola domanda: basta un tasto, s o S per cancellare. I tasti premuti\n"
    "mentre il programma lavora vengono ignorati.\n"
    "\n"
    "Rapporti scritti nella cartella:\n"
    "  Rapporto_doppioni.txt            ogni file, e se va cancellato\n"
    "  Elenco_files_cancellati.txt      ogni cancellazione tentata\n"
    "  Rapporto_cartelle.txt            ogni cartella con i suoi file\n"
    "  Rapporto_rimozione_cartelle.txt  ogni cartella vuota, rimossa o no\n"
    "\n"
    "Opzioni:\n"
#ifdef _WIN32
    "  -h, --help, /?  mostra questo aiuto\n"
#else
    "  -h, --help      mostra questo aiuto\n"
#endif
    "  --version       mostra la versione\n"
    "  --              fine delle opzioni: per esempio doppioni -- -vecchi\n"
    "                  pulisce la cartella -vecchi\n"
    "\n"
    "Stato di uscita:\n"
    "  0   esecuzione completa\n"
    "  1   la risposta non era s o S\n"
    "  2   riga di comando sbagliata, o un'altra esecuzione lavora nell'albero\n"
    "  -1  (255 nella shell) impossibile andare avanti\n";

CommandLine wrong(std::string problem) {
  return {CommandKind::WRONG, {}, "doppioni: " + problem + "\nPer l'uso: doppioni --help\n"};
}

// An argument quoted in a message: its control bytes would move the cursor or
// change the terminal's state, so they show as '?'.
std::string quoted(std::string_view argument) {
  std::string text = "\"";
  for (char c : argument) {
    auto byte = static_cast<unsigned char>(c);
    text.push_back(byte < 0x20 || byte == 0x7f ? '?' : c);
  }
  return text + "\"";
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  // "--" ends the options: what follows it is a folder even when it begins with '-'.
  auto end = std::find(arguments.begin(), arguments.end(), "--");
  std::vector<std::string> words(arguments.begin(), end);
  const std::size_t options = words.size();  // the words that may be options
  if (end != arguments.end()) words.insert(words.end(), end + 1, arguments.end());
  if (words.empty()) return {};
  if (words.size() > 1) return wrong("troppi argomenti: si indica una cartella sola");
  const std::string& argument = words[0];
  if (options > 0) {
#ifdef _WIN32
    if (argument == "/?") return {CommandKind::HELP, {}, {}};
#endif
    if (argument == "-h" || argument == "--help") return {CommandKind::HELP, {}, {}};
    if (argument == "--version") return {CommandKind::VERSION, {}, {}};
    if (argument.starts_with('-')) return wrong("opzione sconosciuta " + quoted(argument));
  }
  if (argument.empty()) return wrong("argomento vuoto: manca il nome della cartella");
  return {CommandKind::RUN, argument, {}};
}

CommandLine enterWorkFolder(CommandLine command) {
  if (command.kind != CommandKind::RUN || command.folder.empty()) return command;
  std::optional<Failure> failure = enterFolder(command.folder);
  if (!failure) return command;
  const std::string name = quoted(command.folder);
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
