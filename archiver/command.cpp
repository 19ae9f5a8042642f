// The run-command operation's command line. Only the forms the plug-in sends
// are understood:  x "ARCHIVE" -aoa|-aos -hide "OUTDIR" PATTERN...  (switches
// anywhere after the x; -aoa replaces a file already there, -aos skips it), each pattern a wildcard such as *.* or an entry's
// name, quoted or not; anything else is refused before a file is touched, so a
// wrong command shows up as a failure instead of a surprise.
#include <cstring>
#include <string>
#include <vector>

#include "archiver/archiver.h"
#include "base/text.h"

namespace {

struct Token {
  std::string text;
  bool quoted;
};

// Blanks separate tokens; a double-quoted token keeps its blanks. Byte-wise
// scanning is safe in code page 932: '"', ' ' and TAB are never the second
// byte of a character.
bool Tokenize(const char* command, std::vector<Token>* tokens, Problem* problem) {
  const char* p = command;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') return true;
    Token token;
    token.quoted = *p == '"';
    if (token.quoted) {
      const char* end = strchr(p + 1, '"');
      if (end == nullptr) {
        *problem = "unterminated quotation";
        return false;
      }
      token.text.assign(p + 1, end);
      p = end + 1;
      if (*p != '\0' && *p != ' ' && *p != '\t') {
        *problem = "text right after a closing quotation";
        return false;
      }
    } else {
      const char* start = p;
      while (*p != '\0' && *p != ' ' && *p != '\t') {
        if (*p == '"') {
          *problem = "quotation inside a word";
          return false;
        }
        ++p;
      }
      token.text.assign(start, p);
    }
    tokens->push_back(token);
  }
}

struct Command {
  std::string archive;
  std::string outputFolder;
  std::vector<std::string> patterns;
  bool skipExisting = false;
};

bool ParseCommand(const char* text, Command* command, Problem* problem) {
  std::vector<Token> tokens;
  if (text == nullptr) {
    *problem = "no command";
    return false;
  }
  if (!Tokenize(text, &tokens, problem)) return false;
  if (tokens.empty() || tokens[0].quoted || tokens[0].text != "x") {
    *problem = "unknown command (only x is understood)";
    return false;
  }
  bool overwriteAll = false;
  bool skipExisting = false;
  bool hide = false;
  std::vector<Token> operands;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    if (!token.quoted && token.text[0] == '-') {
      if (token.text == "-aoa") {
        overwriteAll = true;
      } else if (token.text == "-aos") {
        skipExisting = true;
      } else if (token.text == "-hide") {
        hide = true;
      } else {
        *problem = "unknown switch";
        return false;
      }
      continue;
    }
    operands.push_back(token);
  }
  // Without -aoa or -aos a real run would stop to ask, and without -hide show
  // a window: neither can happen here, so such a command is refused.
  if (overwriteAll == skipExisting || !hide) {
    *problem = "the switches -hide and one of -aoa and -aos are required";
    return false;
  }
  if (operands.size() < 3 || !operands[0].quoted || !operands[1].quoted) {
    *problem = "expected a quoted archive, a quoted output folder and one or more patterns";
    return false;
  }
  for (const Token& operand : operands) {
    if (operand.text.empty()) {
      *problem = "empty archive, output folder or pattern";
      return false;
    }
  }
  command->archive = operands[0].text;
  command->outputFolder = operands[1].text;
  for (size_t i = 2; i < operands.size(); ++i) command->patterns.push_back(operands[i].text);
  command->skipExisting = skipExisting;
  return true;
}

void Report(char* output, DWORD outputSize, const char* text) {
  if (output != nullptr && outputSize > 0) CopyText(output, outputSize, text);
}

}  // namespace

int RunArchiverCommand(const char* text, char* output, DWORD outputSize) {
  char report[512];
  Command command;
  Problem problem = nullptr;
  if (!ParseCommand(text, &command, &problem)) {
    FormatText(report, sizeof report, "error: %s", problem);
    Report(output, outputSize, report);
    return kRunBadCommand;
  }
  ExtractResult result;
  bool ok = ExtractArchiveTo(command.archive.c_str(), command.outputFolder.c_str(), command.patterns,
                             command.skipExisting, &result);
  if (!ok && result.failed == 0) {
    FormatText(report, sizeof report, "error: %s", result.firstProblem != nullptr ? result.firstProblem : "unknown");
    Report(output, outputSize, report);
    return kRunArchiveUnreadable;
  }
  if (result.failed == 0) {
    FormatText(report, sizeof report, "%d file(s) and %d folder(s) extracted", result.files, result.folders);
  } else {
    FormatText(report, sizeof report, "%d file(s) and %d folder(s) extracted, %d failed; entry %d: %s", result.files,
               result.folders, result.failed, result.firstFailedEntry,
               result.firstProblem != nullptr ? result.firstProblem : "unknown");
  }
  Report(output, outputSize, report);
  return ok ? 0 : kRunEntriesFailed;
}
