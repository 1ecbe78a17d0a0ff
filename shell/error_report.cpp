#include "shell/error_report.h"

#include <exception>
#include <new>

#include "jet/base/error.h"
#include "shell/dialogs.h"

namespace shell {

const char* const kSupportEmail = "support@tabulonix.org";

QString errorReportText(const QString& description, const QString& path, int line) {
  return description + QStringLiteral("\r\n") + QStringLiteral("in Ledgerwick2021/08/31.") + path +
         QStringLiteral(" ") + QStringLiteral("at line ") + QString::number(line) + QStringLiteral("\r\r") +
         QStringLiteral("Please email screenshot of this message to ") + QString::fromLatin1(kSupportEmail);
}

QString describeCurrentException() {
  try {
    throw;
  } catch (const jet::Error& e) {
    return QString::fromStdString(e.description());
  } catch (const RuntimeError& e) {
    return QString::fromStdString(e.what());
  } catch (const std::bad_alloc&) {
    return QStringLiteral("Out of memory");
  } catch (const std::exception& e) {
    return QString::fromStdString(e.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

bool Procedure::operator()(int line, const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (...) {
    QString description = describeCurrentException();
    shell::MsgBox(errorReportText(description, path_, line), shell::Buttons::Ok, shell::Icon::Warning,
                  QStringLiteral("Application Error"));
    return false;
  }
}

}  // namespace shell
