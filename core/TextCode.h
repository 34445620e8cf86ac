#pragma once
// The program's single-byte text code (Windows-1251): device text tables,
// the logs and the settings file all work on these bytes.
//
// Whole characters: a character outside the Basic Multilingual Plane takes
// two UTF-16 units (a surrogate pair). Lengths below count characters, and a
// cut never keeps half of one; a lone surrogate unit is no character and is
// dropped. What a target can hold is a predicate on the character's code.

#include <QByteArray>
#include <QString>

QByteArray toCp1251(const QString &text);
QString fromCp1251(const QByteArray &bytes);

using CharacterRule = bool (*)(char32_t);

// True when Windows-1251 has a byte for the character.
bool cp1251Holds(char32_t c);

// The number of whole characters of the text.
qsizetype characterCount(const QString &text);
// The first n whole characters of the text, lone surrogates left out.
QString leftCharacters(const QString &text, qsizetype n);
// The characters of the text that `holds` refuses (a lone surrogate always),
// each once, in the order of their first appearance.
QString charactersNotHeld(const QString &text, CharacterRule holds);
// The text without the characters `holds` refuses (and without lone surrogates).
QString keepHeldCharacters(const QString &text, CharacterRule holds);
// The characters for a message: «Ł», «😀»; a character that cannot be shown
// (a control character, a lone surrogate) as its code, U+0009.
QString characterList(const QString &characters);

// The message refusing a box's text for the characters its target lacks
// (`characters` as charactersNotHeld gives them): the stored code page, or
// (device) the dosimeter's character table.
QString refusedCharactersText(const QString &boxTitle, const QString &characters, bool device = false);
