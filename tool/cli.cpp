// dioctl's command line: the commands, their arguments and help texts.
#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "dioctl.h"

namespace dioctl {

void Output::Print(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(out, format, args);
  va_end(args);
  fflush(out);
}

int Output::Fail(int code, const char *format, ...) {
  fputs("dioctl: ", err);
  va_list args;
  va_start(args, format);
  vfprintf(err, format, args);
  va_end(args);
  fputc('\n', err);
  fflush(err);
  return code;
}

namespace {

const char kOverview[] =
    "usage: dioctl [--device PATH] COMMAND [ARGUMENTS]\n"
    "\n"
    "Looks at and drives the DIO board through the TesZEPDIO driver.\n"
    "\n"
    "commands:\n"
    "  list                                   the devices the driver publishes, and its board record\n"
    "  info                                   the board-information bytes, with their fields\n"
    "  read OFFSET [--width 1|2|4]            reads a port of the board's register block\n"
    "  write OFFSET VALUE [--width 1|2|4]     writes a port of the board's register block\n"
    "  watch [--events LIST] [--for SECONDS]  prints each DI event as it is signalled\n"
    "  do-config --start CH,LEVEL|off --shutdown CH,LEVEL|off\n"
    "                                         replaces the DO start/shutdown configuration\n"
    "\n"
    "  --device PATH  the device to open; by default the first one the driver publishes\n"
    "  --help         this text; \"dioctl COMMAND --help\" describes a command\n"
    "\n"
    "Numbers are decimal, or hexadecimal after 0x. Exit codes: 0 done; 1 no device, access\n"
    "denied, or the driver refused the request; 2 the command line is wrong (nothing was sent).\n";

struct Command {
  const char *name;
  int (*run)(const Options &, Output &);
  const char *help;
};

const Command kCommands[] = {
    {"list", List,
     "usage: dioctl list\n"
     "\n"
     "Lists the devices the driver publishes: the present devices of its device interface\n"
     "(SetupDi) and the device map's path (" DIOCTL_MAP_KEY ", value \"" DIO_VALUE_MAP_DEVICE0 "\"), which stays\n"
     "after a removal; then the board the driver recorded in " DIOCTL_BOARD_KEY ":\n"
     "model, port base, interrupt and PCI bus and slot. Fails when no device is present.\n"},
    {"info", Info,
     "usage: dioctl [--device PATH] info\n"
     "\n"
     "Reads the eight board-information bytes (IOCTL_DIO_GET_BOARD_INFO) and names their\n"
     "fields. Only layout-24 boards (model 24) have them; other boards return eight zeros.\n"},
    {"read", Read,
     "usage: dioctl [--device PATH] read OFFSET [--width 1|2|4]\n"
     "\n"
     "Reads 1 (default), 2 or 4 bytes at OFFSET in the board's register block\n"
     "(IOCTL_DIO_READ_PORT_UCHAR/USHORT/ULONG). The driver refuses an access that does not lie\n"
     "wholly inside the block.\n"},
    {"write", Write,
     "usage: dioctl [--device PATH] write OFFSET VALUE [--width 1|2|4]\n"
     "\n"
     "Writes VALUE, 1 (default), 2 or 4 bytes wide, at OFFSET in the board's register block\n"
     "(IOCTL_DIO_WRITE_PORT_UCHAR/USHORT/ULONG). VALUE must fit the width.\n"},
    {"watch", Watch,
     "usage: dioctl [--device PATH] watch [--events LIST] [--for SECONDS]\n"
     "\n"
     "Hands the driver an event object for each event number of LIST (IOCTL_DIO_ENABLE_EVENT),\n"
     "switches on the board's interrupt sources behind them, and prints one line per DI event\n"
     "as it is signalled: the seconds since the start and the event number. Ctrl+C, or the end\n"
     "of SECONDS (fractions allowed), ends it: the sources are set back as they were, the\n"
     "events disabled (IOCTL_DIO_DISABLE_EVENT) and the device closed.\n"
     "\n"
     "LIST: numbers and ranges, \"0,3,8\" or \"0-3\"; by default every event of the board: 0 to 3\n"
     "on the general layout, 0 to 8 on layouts 22 and 24 (on layout 24 the driver signals\n"
     "event 8 only when the board's DI channel count, \"dioctl info\" byte 0, is 8 or more). An\n"
     "event fired again before it was printed is printed once.\n"},
    {"do-config", ConfigureDo,
     "usage: dioctl [--device PATH] do-config --start CH,LEVEL|off --shutdown CH,LEVEL|off\n"
     "\n"
     "Replaces the driver's DO configuration (IOCTL_DIO_DO_SYS_CONFIG): at the board's start\n"
     "and at the system's shutdown, drive DO channel CH (0 to 7) to LEVEL (0 or 1), or drive\n"
     "nothing (off). The board and the registry are not changed: the shutdown setting is used\n"
     "at the next shutdown, and the board's next start reads the \"DO\" key again.\n"},
};

const Command *FindCommand(const std::string &name) {
  for (const Command &c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

// A number: decimal, or hexadecimal after 0x; at most `max`.
bool ParseNumber(const char *text, uint64_t max, uint32_t *value) {
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
  }
  if (!*text) return false;
  uint64_t v = 0;
  for (; *text; ++text) {
    int digit;
    char c = *text;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * base + digit;
    if (v > max) return false;
  }
  *value = uint32_t(v);
  return true;
}

// Seconds with at most three decimals, above 0 and at most a million.
bool ParseSeconds(const char *text, DWORD *milliseconds) {
  uint64_t ms = 0;
  int decimals = -1;
  for (; *text; ++text) {
    if (*text == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (*text < '0' || *text > '9' || decimals == 3) return false;
    ms = ms * 10 + (*text - '0');
    if (decimals >= 0) ++decimals;
    if (ms > 1000000000ull) return false;
  }
  for (int d = decimals < 0 ? 0 : decimals; d < 3; ++d) ms *= 10;
  if (ms == 0 || ms > 1000000000ull) return false;
  *milliseconds = DWORD(ms);
  return true;
}

// "0,3,8", "0-3,8" or "all".
bool ParseEvents(const char *text, std::vector<int> *events) {
  events->clear();
  if (!strcmp(text, "all")) return true;
  std::string list(text);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t dash = item.find('-');
    uint32_t first, last;
    if (!ParseNumber(item.substr(0, dash).c_str(), DIO_EVENT_COUNT - 1, &first)) return false;
    last = first;
    if (dash != std::string::npos &&
        (!ParseNumber(item.substr(dash + 1).c_str(), DIO_EVENT_COUNT - 1, &last) || last < first)) {
      return false;
    }
    for (uint32_t n = first; n <= last; ++n) events->push_back(int(n));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  std::sort(events->begin(), events->end());
  events->erase(std::unique(events->begin(), events->end()), events->end());
  return !events->empty();
}

// "CH,LEVEL" or "off" into a trigger, channel and level.
bool ParseDoSetting(const char *text, ULONG *trigger, ULONG *channel, ULONG *level) {
  *trigger = *channel = *level = 0;
  if (!strcmp(text, "off")) return true;
  const char *comma = strchr(text, ',');
  if (!comma) return false;
  uint32_t ch, lv;
  if (!ParseNumber(std::string(text, comma).c_str(), 7, &ch) || !ParseNumber(comma + 1, 1, &lv)) return false;
  *trigger = 1;
  *channel = ch;
  *level = lv;
  return true;
}

struct Parser {
  int argc;
  char **argv;
  Output &output;
  int next = 1;

  int Usage(const char *format, const char *what, const std::string &command) {
    std::string line = std::string(format) + "; see \"dioctl " + (command.empty() ? "" : command + " ") + "--help\"";
    return output.Fail(kDioctlUsage, line.c_str(), what);
  }
};

}  // namespace

}  // namespace dioctl

int DioctlMain(int argc, char **argv, FILE *out, FILE *err) {
  using namespace dioctl;
  Output output{out, err};
  Options options;
  Parser p{argc, argv, output};
  std::vector<const char *> positional;
  bool help = false, haveStart = false, haveShutdown = false;

  for (; p.next < argc; ++p.next) {
    std::string arg = argv[p.next];
    const char *value = p.next + 1 < argc ? argv[p.next + 1] : nullptr;
    const std::string &c = options.command;
    if (arg == "--help" || arg == "-h" || (arg == "help" && c.empty())) {
      help = true;
    } else if (arg == "--device" || arg == "--width" || arg == "--events" || arg == "--for" ||
               arg == "--start" || arg == "--shutdown") {
      if (!value) return p.Usage("%s needs a value", arg.c_str(), c);
      ++p.next;
      bool ok = true;
      bool known = !c.empty() || arg == "--device";
      if (arg == "--device") {
        options.device = value;
      } else if (arg == "--width" && (c == "read" || c == "write")) {
        ok = ParseNumber(value, 4, &options.width) && options.width != 0 && options.width != 3;
        if (!ok) return p.Usage("--width is 1, 2 or 4, not \"%s\"", value, c);
      } else if (arg == "--events" && c == "watch") {
        if (!ParseEvents(value, &options.events))
          return p.Usage("--events takes event numbers 0 to 8 and ranges, such as 0,3,8 or 0-3, not \"%s\"",
                         value, c);
      } else if (arg == "--for" && c == "watch") {
        if (!ParseSeconds(value, &options.milliseconds))
          return p.Usage("--for takes seconds above 0 with at most three decimals, not \"%s\"", value, c);
      } else if ((arg == "--start" || arg == "--shutdown") && c == "do-config") {
        DIO_DO_CONFIG &d = options.config;
        bool start = arg == "--start";
        ok = start ? ParseDoSetting(value, &d.TriggerStart, &d.ChannelStart, &d.LevelStart)
                   : ParseDoSetting(value, &d.TriggerShutdown, &d.ChannelShutdown, &d.LevelShutdown);
        if (!ok)
          return p.Usage("%s takes CH,LEVEL (channel 0 to 7, level 0 or 1) or off", arg.c_str(), c);
        (start ? haveStart : haveShutdown) = true;
      } else {
        known = false;
      }
      if (!known) return p.Usage("%s is not an option of this command", arg.c_str(), c);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return p.Usage("unknown option %s", arg.c_str(), c);
    } else if (options.command.empty()) {
      if (!FindCommand(arg)) return p.Usage("unknown command \"%s\"", arg.c_str(), "");
      options.command = arg;
    } else {
      positional.push_back(argv[p.next]);
    }
  }

  const Command *command = FindCommand(options.command);
  if (help) {
    output.Print("%s", command ? command->help : kOverview);
    return kDioctlDone;
  }
  if (!command) return p.Usage("%s", "no command given", "");
  const std::string &c = options.command;

  size_t wanted = c == "read" ? 1 : c == "write" ? 2 : 0;
  if (positional.size() != wanted) {
    return p.Usage(wanted == 0 ? "%s takes no arguments"
                               : wanted == 1 ? "%s takes one OFFSET" : "%s takes OFFSET and VALUE",
                   c.c_str(), c);
  }
  if (wanted >= 1 && !ParseNumber(positional[0], 0xFFFFFFFFu, &options.offset))
    return p.Usage("OFFSET \"%s\" is not a number from 0 to 0xFFFFFFFF", positional[0], c);
  if (wanted == 2) {
    uint64_t max = options.width == 4 ? 0xFFFFFFFFull : (1ull << (8 * options.width)) - 1;
    if (!ParseNumber(positional[1], 0xFFFFFFFFu, &options.value))
      return p.Usage("VALUE \"%s\" is not a number from 0 to 0xFFFFFFFF", positional[1], c);
    if (options.value > max) {
      char what[96];
      snprintf(what, sizeof what, "%s does not fit in %u byte%s (at most 0x%llX)", positional[1],
               unsigned(options.width), options.width == 1 ? "" : "s", (unsigned long long)max);
      return p.Usage("VALUE %s", what, c);
    }
  }
  if (c == "do-config" && !(haveStart && haveShutdown))
    return p.Usage("%s needs both --start and --shutdown: the request replaces both", c.c_str(), c);
  if (c == "list" && !options.device.empty())
    return p.Usage("%s lists every device; --device is not for it", c.c_str(), c);
  return command->run(options, output);
}

int DioctlCommandLine(const char *commandLine, FILE *out, FILE *err) {
  std::vector<std::string> words{"dioctl"};
  for (const char *p = commandLine; *p;) {
    while (*p == ' ') ++p;
    const char *end = p;
    while (*end && *end != ' ') ++end;
    if (end != p) words.emplace_back(p, end);
    p = end;
  }
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  return DioctlMain(int(words.size()), argv.data(), out, err);
}
