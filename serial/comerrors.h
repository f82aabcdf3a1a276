// The port component's one error type: a component code 1..23, the system
// error number of the failed call (or -1) and a message from a fixed table.
#pragma once

#include <QString>

#include <stdexcept>

namespace q274 {

// Component error codes; the numbers are fixed.
enum TComPortErrorCode : int {
    CError_OpenFailed = 1,
    CError_WriteFailed = 2,
    CError_ReadFailed = 3,
    CError_InvalidAsync = 4,
    CError_PurgeFailed = 5,
    CError_AsyncCheck = 6,
    CError_SetStateFailed = 7,
    CError_TimeoutsFailed = 8,
    CError_SetupComFailed = 9,
    CError_ClearComFailed = 10,
    CError_ModemStatFailed = 11,
    CError_EscapeComFailed = 12,
    CError_TransmitFailed = 13,
    CError_ConnChangeProp = 14,
    CError_EnumPortsFailed = 15,
    CError_StoreFailed = 16,
    CError_LoadFailed = 17,
    CError_RegFailed = 18,
    CError_LedStateFailed = 19,
    CError_ThreadCreated = 20,
    CError_WaitFailed = 21,
    CError_HasLink = 22,
    CError_RegError = 23,
};

inline constexpr int kComErrorCodeCount = 23;

// The table text of a code (translated through the "cport" context); empty
// for a code outside 1..23.
QString ComErrorText(int code);

// Looks the texts up once more, e.g. after a translator was installed.
void ReloadComErrorTexts();

// One line for the user after a failed open of device (its path): the
// system's reason and what to do about it, e.g. "/dev/ttyUSB0: Permission
// denied — add your user to the dialout group and log in again".
QString PortOpenAdvice(const QString &device, int systemCode);

class EComPort : public std::runtime_error {
public:
    // Without a system error: the message is the table text alone.
    explicit EComPort(int code);
    // With a system error: the table text, then " (win error code: %d)".
    EComPort(int code, int systemCode);

    int PortErrorCode() const noexcept { return FCode; }
    int SystemErrorCode() const noexcept { return FSystemCode; }
    QString Message() const { return QString::fromUtf8(what()); }

private:
    int FCode;
    int FSystemCode;
};

} // namespace q274
