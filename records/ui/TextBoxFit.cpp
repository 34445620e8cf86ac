#include "records/ui/TextBoxFit.h"

#include "core/Prompt.h"
#include "core/DeviceText.h"

#include <QLineEdit>

void keepWholeCharacters(QLineEdit *box, CharacterRule holds)
{
    QObject::connect(box, &QLineEdit::textEdited, box, [box, holds](const QString &text) {
        auto fit = [holds](const QString &s) {
            return holds ? keepHeldCharacters(s, holds) : leftCharacters(s, s.size());
        };
        const QString fitted = fit(text);
        if (fitted == text)
            return;
        const int cursor = int(fit(text.left(box->cursorPosition())).size());
        box->setText(fitted);
        box->setCursorPosition(cursor);
        activePrompt().beep();
    });
}

bool boxTextFits(QLineEdit *box, const QString &boxTitle, bool device)
{
    const QString missing = charactersNotHeld(box->text(), device ? deviceTextHolds : cp1251Holds);
    if (missing.isEmpty())
        return true;
    activePrompt().message(MsgKind::Warning, refusedCharactersText(boxTitle, missing, device), PromptButton::Ok);
    box->setFocus();
    return false;
}
