#pragma once
// The frame of the Tarn bus: header, the two checksums, the address text and
// the assembly of a request. Every exchange is one request frame and at most
// one reply frame.
//
// Layout (offsets from 0):
//   0  3  Destination      bus address of the addressee
//   3  3  Source           bus address of the sender
//   6  1  Function
//   7  1  Selector
//   8  2  BodyLength n     little-endian
//   10 4  HeaderChecksum   frameChecksum() of bytes 0..9, little-endian;
//                          four zero bytes when n = 0
//   14 n  Body
//   14+n 4 BodyChecksum    frameChecksum() of the body (absent when n = 0)

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The addresses every request of the monitor carries.
inline const QString BroadcastAddress = QStringLiteral("255.255.255");
inline const QString MonitorAddress = QStringLiteral("1.1.1");

constexpr int FrameHeaderSize = 10;     // Destination .. BodyLength
constexpr int EmptyFrameSize = 14;      // header and four zero bytes
constexpr int FrameOverhead = 18;       // header, header checksum, body checksum

// Checksum of a byte string: big-endian 16-bit words aligned to the end of
// the data, each XORed into the 32-bit sum after a left rotation by 5 bits;
// an odd length takes the first byte alone as the start value. Empty → 0.
quint32 frameChecksum(const QByteArray &bytes);
quint32 frameChecksum(const char *data, int length);

// "a.b.c" (decimal, blanks around the whole text ignored, at most 11
// characters read) → three bytes. Raises EFormatError
// "Неправильно задан адрес устройства" for anything else.
QByteArray parseDeviceAddress(const QString &text);

// Assembles a request frame. Raises EFormatError for an unreadable address.
QByteArray buildPacket(const QString &destination, const QString &source, quint8 function,
                       quint8 selector, const QByteArray &body = QByteArray());

// ---- Reading frames (the reply side and the simulated reader) ----

// Total length of the frame whose first bytes are given: 14 when its
// BodyLength is 0, else BodyLength + 18. -1 while fewer than 10 bytes are known.
int expectedFrameLength(const QByteArray &head);
int expectedFrameLength(const char *data, int count);

// True when the bytes are exactly one whole frame whose BodyLength, header
// checksum and body checksum agree with its bytes. A body-less frame carries
// zeros in its header checksum field (its true header checksum is accepted too).
bool frameIsConsistent(const QByteArray &frame);

quint16 frameBodyLength(const QByteArray &frame);      // 0 when too short
QByteArray frameBody(const QByteArray &frame);         // the n body bytes (may be short)
// A three-byte address at `offset` as a 24-bit number, high byte first
// (offset 3 = Source of a reply, 0 = Destination).
quint32 frameAddress(const QByteArray &frame, int offset);
// "a.b.c" for a 24-bit address number.
QString addressToText(quint32 address);
