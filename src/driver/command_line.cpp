#include "driver/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace doppioni {
namespace {

constexpr int WRONG_COMMAND_STATUS = 2;

const char USAGE_BEFORE_HELP[] =
    "Uso: doppioni [--] [cartella]\n"
    "     doppioni [opzioni] [--] [cartella]\n"
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
    "Opzioni (in qualsiasi ordine, prima o dopo la cartella):\n"
    "  --tieni CARTELLA      dei file doppi resta la copia che sta dentro\n"
    "                        CARTELLA, a qualsiasi profondita', invece della\n"
    "                        prima dell'elenco; CARTELLA sta nell'albero.\n"
    "                        Si puo' ripetere\n"
    "  --escludi NOME        salta le cartelle che si chiamano esattamente\n"
    "                        NOME (per esempio .git): niente di quello che\n"
    "                        contengono viene esaminato o cancellato.\n"
    "                        Si puo' ripetere\n"
    "  --sposta-in CARTELLA  invece di cancellare i file segnati li sposta in\n"
    "                        CARTELLA, che sta fuori dall'albero, ricreando le\n"
    "                        loro cartelle; un nome gia' presente non viene\n"
    "                        mai sovrascritto\n";
// The help option's line comes between them: see usageHelpLine().
const char USAGE_AFTER_HELP[] =
    "  --version             mostra la versione\n"
    "  --                    fine delle opzioni: per esempio doppioni -- -vecchi\n"
    "                        pulisce la cartella -vecchi\n"
    "\n"
    "Le cartelle delle opzioni si indicano come la cartella da pulire, a\n"
    "partire dalla cartella da cui si avvia il comando.\n"
    "\n"
    "Stato di uscita:\n"
    "  0   esecuzione completa\n"
    "  1   la risposta non era s o S\n"
    "  2   riga di comando sbagliata, o un'altra esecuzione lavora nell'albero\n"
    "  -1  (255 nella shell) impossibile andare avanti\n";

// "-h, --help" and the system's own help option, if any, in the column of
// the other options.
std::string usageHelpLine() {
  std::string line("  -h, --help");
  if (!SYSTEM_HELP_OPTION.empty()) line.append(", ").append(SYSTEM_HELP_OPTION);
  line.resize(24, ' ');
  return line + "mostra questo aiuto\n";
}

CommandLine ofKind(CommandKind kind, std::string message = {}) {
  CommandLine command;
  command.kind = kind;
  command.message = std::move(message);
  return command;
}

CommandLine wrong(std::string problem) {
  return ofKind(CommandKind::WRONG, "doppioni: " + problem + "\nPer l'uso: doppioni --help\n");
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

// A name a folder can have: not empty, no separator, neither "." nor "..".
bool plainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find(PATH_SEPARATOR) == std::string::npos;
}

bool takesValue(std::string_view word) {
  return word == "--tieni" || word == "--escludi" || word == "--sposta-in";
}

// Takes the value of an option that has one: nothing, or what is wrong.
std::optional<CommandLine> takeOption(CommandLine& command, std::string_view option,
                                      const std::string& value) {
  const std::string name(option);
  if (value.empty()) return wrong("argomento vuoto dopo " + name);
  if (option == "--escludi") {
    if (!plainName(value)) {
      return wrong(quoted(value) + " non e' il nome di una cartella: " + name +
                   " vuole un nome senza separatori, diverso da . e ..");
    }
    command.options.excludedNames.push_back(value);
  } else if (option == "--tieni") {
    command.keptFolders.push_back(value);
  } else {
    if (command.moveTo) return wrong(name + " si indica una volta sola");
    command.moveTo = value;
  }
  return std::nullopt;
}

// What could not be found of a folder named on the command line: the
// folder to clean (no option), which is entered, or an option's, which is
// held open.
CommandLine wrongFolder(std::string_view option, const std::string& folder,
                        const Failure& failure) {
  const std::string name = quoted(folder);
  const std::string from = option.empty() ? "" : std::string(option) + ": ";
  if (failure.error == ENOENT) return wrong(from + "la cartella " + name + " non esiste");
  if (failure.error == ENOTDIR) return wrong(from + name + " non e' una cartella");
  return wrong(from +
               (failure.kind == FailureKind::FOLDER_UNENTERABLE
                    ? "impossibile entrare nella cartella "
                    : "impossibile aprire la cartella ") +
               name + " (" + errorText(failure.error) + ")");
}

bool holds(const std::vector<FileId>& ids, const FileId& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Where the folders of the options stand against the tree now entered, each
// with the identities of the folders above it: a kept folder in the tree,
// the destination neither in it nor above it.
CommandLine placeOptionFolders(CommandLine command, const std::vector<std::vector<FileId>>& kept,
                               const std::vector<FileId>& destination) {
  if (kept.empty() && destination.empty()) return command;
  HeldFolder tree;
  std::vector<FileId> above;
  if (std::optional<Failure> failure = holdFolder(".", tree, above)) {
    return wrong("impossibile leggere la cartella di lavoro (" + errorText(failure->error) + ")");
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (!holds(kept[i], above[0])) {
      return wrong("--tieni: la cartella " + quoted(command.keptFolders[i]) +
                   " non sta nell'albero da pulire");
    }
    command.options.keptFolders.push_back(kept[i][0]);
  }
  if (destination.empty()) return command;
  const std::string name = "--sposta-in: la cartella " + quoted(*command.moveTo);
  if (holds(destination, above[0])) return wrong(name + " sta nell'albero da pulire");
  // The folders made below it would then lead into the tree.
  if (holds(above, destination[0])) return wrong(name + " contiene l'albero da pulire");
  return command;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine command;
  // "--" ends the options: what follows it is a folder even when it begins with '-'.
  std::vector<std::string> words;
  std::optional<std::size_t> options;  // the words that may be options, once "--" is met
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (!options && word == "--") {
      options = words.size();
    } else if (!options && takesValue(word)) {
      if (i + 1 == arguments.size() || arguments[i + 1] == "--") {
        return wrong("all'opzione " + word + " manca " +
                     (word == "--escludi" ? "il nome della cartella" : "la cartella"));
      }
      if (std::optional<CommandLine> problem = takeOption(command, word, arguments[++i])) {
        return std::move(*problem);
      }
    } else {
      words.push_back(word);
    }
  }
  if (words.empty()) return command;
  if (words.size() > 1) return wrong("troppi argomenti: si indica una cartella sola");
  const std::string& argument = words[0];
  if (options.value_or(1) > 0) {
    if (!SYSTEM_HELP_OPTION.empty() && argument == SYSTEM_HELP_OPTION) {
      return ofKind(CommandKind::HELP);
    }
    if (argument == "-h" || argument == "--help") return ofKind(CommandKind::HELP);
    if (argument == "--version") return ofKind(CommandKind::VERSION);
    if (argument.starts_with('-')) return wrong("opzione sconosciuta " + quoted(argument));
  }
  if (argument.empty()) return wrong("argomento vuoto: manca il nome della cartella");
  command.folder = argument;
  return command;
}

CommandLine enterWorkFolder(CommandLine command) {
  if (command.kind != CommandKind::RUN) return command;
  // Found before the work folder is entered: they are read, as it is, from
  // where the command was started.
  std::vector<std::vector<FileId>> kept(command.keptFolders.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    HeldFolder folder;
    if (std::optional<Failure> failure = holdFolder(command.keptFolders[i], folder, kept[i])) {
      return wrongFolder("--tieni", command.keptFolders[i], *failure);
    }
  }
  std::vector<FileId> destination;
  if (command.moveTo) {
    if (std::optional<Failure> failure =
            holdFolder(*command.moveTo, command.options.moveTo, destination)) {
      return wrongFolder("--sposta-in", *command.moveTo, *failure);
    }
  }
  if (!command.folder.empty()) {
    if (std::optional<Failure> failure = enterFolder(command.folder)) {
      return wrongFolder({}, command.folder, *failure);
    }
  }
  return placeOptionFolders(std::move(command), kept, destination);
}

int answerCommand(const CommandLine& command) {
  switch (command.kind) {
    case CommandKind::HELP:
      std::fputs(USAGE_BEFORE_HELP, stdout);
      std::fputs(usageHelpLine().c_str(), stdout);
      std::fputs(USAGE_AFTER_HELP, stdout);
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
