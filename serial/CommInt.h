#pragma once

// The serial port of the program: one device opened by name, its line settings, block reads
// and writes with bounded waits, DTR/RTS control, and line events handed to the user-interface
// thread by a monitoring thread (serial/CommEventThread.h).

#include "serial/CommTypes.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>


class TCommEventThread;
class TCustomComm;
struct LineRequest;

// A serial failure: the text followed by " (Error: %d) " with the system error code (errno), or
// -1 for the port's own checks.
class ECommError : public std::runtime_error
{
public:
    // `device`: the path a failed open tried, so the operator can be told what to do about it.
    ECommError(const QString& text, int code, const QString& device = QString());

    int ErrorCode() const { return fErrorCode; }
    // The whole message, as shown to the operator.
    QString Message() const { return fMessage; }
    // The device path when opening it failed, else empty.
    QString Device() const { return fDevice; }

private:
    int fErrorCode;
    QString fMessage;
    QString fDevice;
};

// The device a typed port name stands for:
//  "ComN" (any case, N >= 1) -> the link "comN" in $XDG_CONFIG_HOME/pradix/ports/ (default
//  ~/.config/pradix/ports/) when that link exists, else /dev/ttyS(N-1);
//  a name holding '/' -> that path; any other name -> /dev/<name>.
// Surrounding blanks are ignored. An empty name gives an empty path.
QString resolvePortName(const QString& name);
// The folder where "comN" links are looked up.
QString portLinkFolder();

// The five special characters of the line settings.
class TCommEventChars
{
public:
    explicit TCommEventChars(TCustomComm* owner = nullptr);
    TCommEventChars(const TCommEventChars&) = delete;
    // Copies the five characters, not the owner, and does not touch the device.
    TCommEventChars& operator=(const TCommEventChars& source);
    // As operator=; assigning from nothing is refused with std::invalid_argument.
    void Assign(const TCommEventChars* source);

    char XonChar() const { return fXonChar; }
    char XoffChar() const { return fXoffChar; }
    char ErrorChar() const { return fErrorChar; }
    char EofChar() const { return fEofChar; }
    char EvtChar() const { return fEvtChar; }
    void setXonChar(char value);
    void setXoffChar(char value);
    void setErrorChar(char value);
    void setEofChar(char value);
    void setEvtChar(char value);

private:
    // Stores one of the characters and applies it to the owner's open device.
    void store(char& field, char value);

    TCustomComm* fOwner;
    char fXonChar = 17;
    char fXoffChar = 19;
    char fErrorChar = 0;
    char fEofChar = 0;
    char fEvtChar = 0;
};

class TCustomComm : public QObject
{
public:
    explicit TCustomComm(QObject* owner = nullptr);
    ~TCustomComm() override;
    TCustomComm(const TCustomComm&) = delete;
    TCustomComm& operator=(const TCustomComm&) = delete;

    void Open();
    void Close();
    // Bytes written (all of Count) once they have left for the line, or -1 when they had not
    // within WriteTimeout; then the unsent rest is discarded.
    int Write(const void* buffer, int count);
    // Bytes read (0 to Count) at once from what is already queued; never waits for more.
    int Read(void* buffer, int count);
    void SetDTR(bool value);
    void SetRTS(bool value);

    bool Enabled() const { return fHandle >= 0; }
    // The open descriptor, or -1 while closed.
    int Handle() const { return fHandle; }
    const TDataControlBlock& DataControlBlock() const { return fDCB; }

    QString DeviceName() const { return fDeviceName; }
    void setDeviceName(const QString& value);
    int ReadTimeout() const { return fReadTimeout; }
    void setReadTimeout(int value) { fReadTimeout = value; }
    int WriteTimeout() const { return fWriteTimeout; }
    void setWriteTimeout(int value) { fWriteTimeout = value; }
    int ReadBufSize() const { return fReadBufSize; }
    void setReadBufSize(int value);
    int WriteBufSize() const { return fWriteBufSize; }
    void setWriteBufSize(int value);
    TCommEventTypes MonitorEvents() const { return fMonitorEvents; }
    void setMonitorEvents(TCommEventTypes value);
    TBaudrate BaudRate() const { return fBaudRate; }
    void setBaudRate(TBaudrate value);
    TParity Parity() const { return fParity; }
    void setParity(TParity value);
    TStopbits Stopbits() const { return fStopbits; }
    void setStopbits(TStopbits value);
    TDatabits Databits() const { return fDatabits; }
    void setDatabits(TDatabits value);
    TCommEventChars& EventChars() { return fEventChars; }
    const TCommEventChars& EventChars() const { return fEventChars; }
    TCommOptions Options() const { return fOptions; }
    void setOptions(TCommOptions value);
    TFlowControl FlowControl() const { return fFlowControl; }
    void setFlowControl(TFlowControl value);

    std::function<void(TCustomComm& sender)> OnBreak;
    std::function<void(TCustomComm& sender)> OnCts;
    std::function<void(TCustomComm& sender)> OnDsr;
    std::function<void(TCustomComm& sender, int errors)> OnError;
    std::function<void(TCustomComm& sender)> OnRing;
    std::function<void(TCustomComm& sender)> OnRlsd;
    std::function<void(TCustomComm& sender, int count)> OnRxChar;
    std::function<void(TCustomComm& sender)> OnRxFlag;
    std::function<void(TCustomComm& sender)> OnTxEmpty;

    // Applies the line settings to the open device; nothing while closed.
    void UpdateDataControlBlock();
    void UpdateCommTimeouts();
    void Escape(int code);
    // The event dispatcher the monitoring thread hands every event to (user-interface thread).
    void HandleEvents(TCommEventThread& sender, std::uint32_t mask);
    // The monitoring thread of the present Open, or null while closed.
    std::shared_ptr<TCommEventThread> EventThread() const { return fEventThread; }

    // For tests: asked before each Write with the number of the call since the port was last
    // opened (0 for the first) and its byte count. True makes that Write send nothing and
    // return -1, as a line that does not take the bytes within WriteTimeout would; a
    // pseudo-terminal always takes them. Calls on a closed port raise as before and are not
    // counted.
    using WriteFault = std::function<bool(int call, int count)>;
    void setWriteFault(WriteFault fault) { fWriteFault = std::move(fault); }
    // Write calls since the port was last opened, the failed ones included.
    int WriteCalls() const { return fWriteCalls; }

    [[noreturn]] static void RaiseCommError(const QString& text, int code);

protected:
    virtual void OpenDevice();
    // Bytes that have not left for the line yet: the driver's output queue, or 1 while the
    // queue is empty but the transmitter is still sending (where the driver tells). 0 once all
    // is out; a device that cannot tell (a pseudo-terminal) reports 0 at once.
    virtual int OutputPending() const;
    void CloseDevice();
    void RequireClosed() const;
    void Lock() { fLock.lock(); }
    void Unlock() { fLock.unlock(); }

private:
    // A setting the device is opened with: another value only while the port is closed.
    template <typename T>
    void setOpenSetting(T& field, const T& value)
    {
        if (value == field)
            return;
        RequireClosed();
        field = value;
    }
    // A line setting: stored, and applied at once while the port is open.
    template <typename T>
    void setLineSetting(T& field, T value)
    {
        if (value == field)
            return;
        field = value;
        UpdateDataControlBlock();
    }
    // Waits until OutputPending() is 0, sleeping about as long as the line needs for what is
    // left; past the deadline the rest is discarded and the result is false.
    bool drainOutput(std::chrono::steady_clock::time_point deadline);
    // The line settings as the port holds them, for the terminal driver.
    LineRequest lineRequest() const;

    int fHandle = -1;
    bool fExclusive = false;
    TDataControlBlock fDCB;
    QString fDeviceName;
    std::recursive_mutex fLock;
    int fReadTimeout = 1000;
    int fWriteTimeout = 1000;
    int fReadBufSize = 4096;
    int fWriteBufSize = 2048;
    TCommEventTypes fMonitorEvents = TCommEventTypes::all();
    TBaudrate fBaudRate = br9600;
    TParity fParity = paNone;
    TStopbits fStopbits = sb10;
    TDatabits fDatabits = da8;
    std::shared_ptr<TCommEventThread> fEventThread;
    TCommEventChars fEventChars;
    TCommOptions fOptions;
    TFlowControl fFlowControl = fcDefault;
    WriteFault fWriteFault;
    int fWriteCalls = 0;
};

// The port as the windows use it; every property is reachable through TCustomComm.
class TComm : public TCustomComm
{
public:
    explicit TComm(QObject* owner = nullptr) : TCustomComm(owner) {}
};
