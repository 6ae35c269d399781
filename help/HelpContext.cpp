#include "help/HelpContext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QListWidget>
#include <QRegularExpression>
#include <QTextBrowser>

int helpContextFor(const QObject* object)
{
    for (const QObject* o = object; o; o = o->parent()) {
        bool ok = false;
        const int context = o->property(helpContextProperty).toInt(&ok);
        if (ok && context > 0)
            return context;
    }
    return 0;
}

bool HelpFile::load(const QString& path)
{
    topics_.clear();
    path_.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    path_ = path;
    parse(file.read(MaxBytes));
    return !topics_.isEmpty();
}

void HelpFile::parse(const QByteArray& content)
{
    static const QRegularExpression heading(QStringLiteral("^\\[(\\d{1,6})\\]\\s*(.*)$"));
    topics_.clear();
    int current = -1;
    const QStringList lines = QString::fromUtf8(content).split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QRegularExpressionMatch m = heading.match(line);
        if (m.hasMatch()) {
            current = m.captured(1).toInt();
            topics_[current] = { m.captured(2).trimmed(), QString() };
            continue;
        }
        if (current < 0)
            continue;
        QString& text = topics_[current].text;
        if (!text.isEmpty() || !line.trimmed().isEmpty())
            text += line + QLatin1Char('\n');
    }
    for (Topic& t : topics_)
        t.text = t.text.trimmed();
}

QStringList helpFolders()
{
    // Next to the program in a build tree; beside it under share/ when it is
    // installed to another prefix than the one it was built for.
    const QString programDir = QCoreApplication::applicationDirPath();
    QStringList folders { programDir, QDir(programDir).filePath(QStringLiteral("../share/pradix")) };
#ifdef PRADIX_HELP_DIR
    folders << QStringLiteral(PRADIX_HELP_DIR);
#endif
    return folders;
}

QString findHelpFile(const QString& name)
{
    for (const QString& folder : helpFolders()) {
        const QString candidate = QDir(folder).filePath(name);
        if (QFile::exists(candidate))
            return candidate;
    }
    return QString();
}

HelpViewer::HelpViewer(const HelpFile& file, QWidget* parent)
    : QDialog(parent)
    , file_(file)
    , index_(new QListWidget(this))
    , text_(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Guida di Pradix"));
    resize(620, 380);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(index_, 1);
    layout->addWidget(text_, 3);
    index_->setObjectName(QStringLiteral("HelpIndex"));
    text_->setObjectName(QStringLiteral("HelpText"));
    for (int context : file_.contexts()) {
        auto* item = new QListWidgetItem(file_.topic(context).title, index_);
        item->setData(Qt::UserRole, context);
    }
    connect(index_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item)
            showTopic(item->data(Qt::UserRole).toInt());
    });
}

void HelpViewer::showTopic(int context)
{
    if (!file_.contains(context))
        context = file_.contexts().value(0, -1);
    current_ = context;
    const HelpFile::Topic topic = file_.topic(context);
    text_->setHtml(QStringLiteral("<h3>%1</h3><p>%2</p>")
                       .arg(topic.title.toHtmlEscaped(),
                            topic.text.toHtmlEscaped().replace(QStringLiteral("\n\n"), QStringLiteral("</p><p>"))));
    for (int i = 0; i < index_->count(); ++i) {
        if (index_->item(i)->data(Qt::UserRole).toInt() == context) {
            const QSignalBlocker block(index_);
            index_->setCurrentRow(i);
        }
    }
}
