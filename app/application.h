// The application object: catches exceptions that escape event handlers and
// hands them to the installed handler (the main window's HandleAppException),
// so an unhandled error is reported and the program carries on.
#pragma once

#include <QApplication>

#include <exception>
#include <functional>

namespace q274 {

using AppExceptionHandler = std::function<void(const std::exception &)>;

// Installs the application-wide handler; also used for errors of calls posted
// to the user-interface thread (UiSync). An empty handler removes it.
void SetAppExceptionHandler(AppExceptionHandler handler);

// Passes the exception to the installed handler. Returns false when there is
// none. Exceptions that are not std::exception arrive as a runtime_error.
bool DispatchAppException(std::exception_ptr error);

class TApplication : public QApplication {
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace q274
