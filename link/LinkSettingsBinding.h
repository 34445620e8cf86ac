#pragma once
// The link following its settings: the port choice and the timing values of
// a LinkSettings (core/LinkSettings.h) go to the link at once and again at
// every change, whoever changes them (the program entry reading the settings
// file, the link settings window). A settings object without a port name
// takes the link's; the settings then write the name the link uses.

class LinkSettings;
class SerialLink;

// The link must outlive the settings object (the connection ends with it).
void followLinkSettings(SerialLink &link, LinkSettings &settings);
