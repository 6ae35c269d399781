#include "device/Exchange.h"

#include "device/Frames.h"
#include "device/LineObserver.h"
#include "device/TableGrid.h"
#include "serial/CommInt.h"

#include <algorithm>
#include <vector>

void setBoxLineSettings(TCustomComm& port)
{
    port.setReadTimeout(4000);
    port.setWriteTimeout(2000);
    port.setWriteBufSize(4096);
    port.setMonitorEvents({ evRxChar, evTxEmpty });
    port.setFlowControl(fcNone);
    port.setBaudRate(br9600);
    port.setDatabits(da8);
    port.setParity(paNone);
    port.setStopbits(sb10);
}

Exchange::Exchange(TCustomComm& port, TableGrid& grid, QObject* parent)
    : QObject(parent)
    , port_(port)
    , grid_(grid)
    , portName_(port.DeviceName())
{
    port_.OnError = [this](TCustomComm&, int errors) { emit lineError(errors); };
}

Exchange::~Exchange()
{
    port_.OnError = nullptr;
}

void Exchange::setBusy(bool busy)
{
    if (busy_ == busy)
        return;
    busy_ = busy;
    emit busyChanged(busy);
}

void Exchange::announce(const QString& action)
{
    if (observer_)
        observer_->action(action);
}

void Exchange::announceIfOpen(const QString& action)
{
    if (port_.Enabled())
        announce(action);
}

void Exchange::begin()
{
    setBusy(true);
    port_.setDeviceName(portName_);
    try {
        port_.Open();
    } catch (const ECommError& e) {
        // The commonest trouble in the field; the error goes on to the operator.
        if (observer_)
            observer_->openFailed(port_.DeviceName(), e.Message());
        throw;
    }
    if (observer_)
        observer_->opened(port_.DeviceName());
    port_.SetRTS(true);
    port_.SetDTR(true);
}

void Exchange::close()
{
    // Closing a closed port does nothing, and the log has nothing to say of it.
    const bool wasOpen = port_.Enabled();
    port_.Close();
    if (observer_ && wasOpen)
        observer_->closed();
}

void Exchange::finish()
{
    close();
    setBusy(false);
}

int Exchange::write(const std::uint8_t* bytes, int count)
{
    const int result = port_.Write(bytes, count);
    if (observer_)
        observer_->written(bytes, count, result);
    return result;
}

void Exchange::requestTable()
{
    begin();
    receive_.restart();
    write(frames::ReadRequest.data(), int(frames::ReadRequest.size()));
}

bool Exchange::receive(int count)
{
    // A zero-filled scratch area of the port's read size for each event.
    std::vector<std::uint8_t> scratch(static_cast<size_t>(std::max(port_.ReadBufSize(), 0)), 0);
    const int wanted = std::clamp(count, 0, int(scratch.size()));
    const int got = port_.Read(scratch.data(), wanted);
    if (got < 0)
        return false;
    const int stored = std::min(got, wanted);
    if (observer_)
        observer_->read(scratch.data(), stored);

    // Progress goes out in runs: the bytes before a table completes, then
    // those of the next accumulation.
    int tableBytes = 0;
    ReceiveBuffer::Events events;
    events.tableByte = [&tableBytes] { ++tableBytes; };
    events.tableComplete = [this, &tableBytes](codec::Model model, const std::uint8_t* image) {
        emit progress(tableBytes);
        tableBytes = 0;
        completeTable(model, image);
    };
    receive_.store(scratch.data(), stored, events);
    if (tableBytes > 0)
        emit progress(tableBytes);

    if (const auto code = receive_.replyFrameCode()) {
        emit replyReceived(*code);
        setBusy(false);
        receive_.clear();
        close();
    }
    emit received();
    return true;
}

void Exchange::completeTable(codec::Model model, const std::uint8_t* image)
{
    emit tableStarted(model);
    grid_.fillData(QString());
    codec::writeColumnLabels(grid_, model);
    ReceivedTable table;
    table.model = model;
    table.checks = codec::decodeHeader(image, model, grid_);
    for (int r = 2; r < TableGrid::RowCount; ++r) {
        emit rowDecoding(r);
        codec::decodeRecord(image + codec::RecordSize * (r - 1), model, grid_, r);
    }
    if (model == codec::Model::Kolvar22)
        table.clockText = codec::clockText(image + codec::ClockOffset);
    table.deviceText = codec::deviceText(image + codec::DeviceTextOffset);
    table.image = QByteArray(reinterpret_cast<const char*>(image), codec::ImageSize);

    setBusy(false);
    receive_.clear();
    close();
    emit tableReceived(table);
}

writeplan::Result Exchange::writeTable(const writeplan::Plan& plan, Pacer& pacer, const Clock& clock,
                                       const writeplan::RecordStarting& recordStarting)
{
    begin();
    receive_.restart();
    const writeplan::Result result = writeplan::send(plan, port_, pacer, clock, recordStarting, observer_);
    if (result.sent())
        finish();
    else
        close();
    return result;
}
