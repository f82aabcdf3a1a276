#include "application.h"

#include "uisync.h"

#include <cstdio>
#include <stdexcept>

namespace q274 {

namespace {
AppExceptionHandler &Handler()
{
    static AppExceptionHandler handler;
    return handler;
}
} // namespace

void SetAppExceptionHandler(AppExceptionHandler handler)
{
    Handler() = std::move(handler);
    if (Handler())
        UiSync::SetErrorHandler([](std::exception_ptr e) { DispatchAppException(e); });
    else
        UiSync::SetErrorHandler({});
}

bool DispatchAppException(std::exception_ptr error)
{
    if (!error)
        return true;
    const AppExceptionHandler handler = Handler(); // copy: the handler may replace itself
    if (!handler)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        handler(e);
    } catch (...) {
        handler(std::runtime_error("Unknown error"));
    }
    return true;
}

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // The handler itself may fail (say, the error box cannot be shown);
        // nothing may leave notify, or Qt's event loop would be torn down.
        try {
            if (DispatchAppException(std::current_exception()))
                return true;
        } catch (...) {
        }
        std::fputs("Q274TCstd: unhandled error in an event handler\n", stderr);
        return true;
    }
}

} // namespace q274
