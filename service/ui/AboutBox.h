#pragma once
// The about box "О программе" (object name "TAboutBox"): the program's name,
// its version, two pictures of the program's own (drawn here) and a short
// description. The version is the application's version, which the program
// entry sets from the version the build was configured with; without one the
// version line stays empty.

#include <QDialog>
#include <QString>

class QLabel;

class AboutBox : public QDialog {
    Q_OBJECT
public:
    static const QString ObjectName;  // "TAboutBox"

    explicit AboutBox(QWidget *parent = nullptr);

    // The version the build was configured with ("1.2.0.72").
    static QString builtVersion();
    // The version line: the application's version ("" when it has none).
    QString versionText() const;
    QStringList memoLines() const;
};
