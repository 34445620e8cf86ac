#pragma once
// The insertion prompt "Ожидание дозиметра" (object name "TInsertDosimetr"):
// asks the operator to insert the dosimeter and closes by itself (accepted)
// as soon as the reader reports one, or with Cancel when the operator
// cancels or closes it. It polls the reader's configuration every 300 ms
// through the service session, one poll at a time; the polls stop when the
// prompt closes. The first error a poll raises is shown once; the polling
// goes on.

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;
class IPrompt;
class ServiceSession;
struct ReaderConfigData;
template <typename T> struct CommandResult;

class InsertionPrompt : public QDialog {
    Q_OBJECT
public:
    static const QString ObjectName;  // "TInsertDosimetr"
    static constexpr int PollIntervalMs = 300;

    InsertionPrompt(ServiceSession &session, IPrompt &prompt, QWidget *parent = nullptr);
    ~InsertionPrompt() override;

    // Creates the prompt, shows it modally (through `prompt`) and
    // destroys it as soon as it has closed. True when a dosimeter is in the reader.
    static bool waitForDosimeter(ServiceSession &session, IPrompt &prompt, QWidget *parent);

    int pollsSent() const { return m_pollsSent; }
    bool polling() const;

    void done(int result) override;

private:
    void tick();
    void pollDone(const CommandResult<ReaderConfigData> &result, std::exception_ptr error);

    ServiceSession &m_session;
    IPrompt &m_prompt;
    QTimer *m_timer = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_pollUnderWay = false;
    bool m_errorShown = false;
    bool m_closed = false;
    int m_pollsSent = 0;
};
