#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// Follows which of the program's windows was active before the one active
// now. The toolkit tells a window it is active before it tells the one left
// that it is not, so the activations alone are followed.
class ActivationWatch : public QObject
{
public:
    explicit ActivationWatch(QObject* parent);

    // The window active before the one that is active now; the same window
    // when the operator comes back to it from another program.
    QWidget* previous() const { return previous_.data(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> previous_;
    QPointer<QWidget> current_;
};
