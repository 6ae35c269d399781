#pragma once

#include <QDialog>
#include <QMap>
#include <QStringList>
#include <QString>

class QObject;
class QTextBrowser;
class QListWidget;

// Every control that has a help topic carries its number in this property.
constexpr const char* helpContextProperty = "helpContext";

// The help topic for an object: its own number, else its nearest ancestor's.
int helpContextFor(const QObject* object);

// The help file: topics numbered as the controls' help contexts. A plain
// UTF-8 text file; a line "[N] Title" starts topic N, the lines that follow
// are its text until the next topic. Lines starting with '#' before the
// first topic are comments.
class HelpFile
{
public:
    struct Topic
    {
        QString title;
        QString text;
    };

    // Reads at most MaxBytes; a file that cannot be read gives no topics.
    bool load(const QString& path);
    void parse(const QByteArray& content);

    bool contains(int context) const { return topics_.contains(context); }
    Topic topic(int context) const { return topics_.value(context); }
    QList<int> contexts() const { return topics_.keys(); }
    const QString& path() const { return path_; }

    static constexpr qint64 MaxBytes = 1 << 20;

private:
    QMap<int, Topic> topics_;
    QString path_;
};

// Where the program looks for its help file: next to the executable, then in
// its install folder.
QStringList helpFolders();
QString findHelpFile(const QString& name);

// The help window: the list of topics on the left, the chosen topic's text on the right.
class HelpViewer : public QDialog
{
    Q_OBJECT

public:
    HelpViewer(const HelpFile& file, QWidget* parent = nullptr);
    void showTopic(int context);
    int currentContext() const { return current_; }

private:
    const HelpFile& file_;
    QListWidget* index_;
    QTextBrowser* text_;
    int current_ = -1;
};
