#pragma once
// The 61 pictures of the connection-state indicator, 32 x 32 each, drawn
// once: 0 the connected picture (and the first of the exchange animation),
// 0 to 58 the exchange animation, 60 the idle picture.

#include <QPixmap>

const QPixmap &stateStripPicture(int index);  // an index out of range gives the idle picture
