// The uniform error report. A guarded procedure names its path ("Form1.PushButton1_Click") and runs
// its numbered lines (100, 102, 104, ...) through the guard. When a line fails, the guard shows
//   <description> CR LF "in Ledgerwick2021/08/31.<path> at line <n>" CR CR "Please email ..."
// in a warning box titled "Application Error" and the procedure carries on with its next line.
// A failure inside a called routine abandons that routine; the caller continues after the call.
//
//   shell::Procedure p("Form1.PushButton1_Click");
//   QString path;
//   p(100, [&] { path = ShowFileDialog(0, kFilter, "Create DB"); });
//   if (path.isEmpty()) return;
//   p(102, [&] { ... });
#pragma once

#include <QString>
#include <functional>
#include <stdexcept>
#include <string>

namespace shell {

extern const char* const kSupportEmail;

// A run-time failure of the application itself (not an engine error), with the runtime's text,
// for example RuntimeError(6, "Overflow").
class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
  int number() const { return number_; }

 private:
  int number_;
};

// The text of the report for a failure.
QString errorReportText(const QString& description, const QString& path, int line);

class Procedure {
 public:
  explicit Procedure(QString path) : path_(std::move(path)) {}
  // Runs one numbered line; returns false when it failed (after the report was shown).
  bool operator()(int line, const std::function<void()>& body);
  const QString& path() const { return path_; }

 private:
  QString path_;
};

// The description of whatever was thrown (engine errors, runtime errors, std::exception).
QString describeCurrentException();

}  // namespace shell
