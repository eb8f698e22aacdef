// The main window's commands as QActions: captions, icons, ribbon tooltips
// and shortcuts, plus the exclusive group of the five looks. The window
// connects them to its handlers and puts them in the ribbon and menus.
//
// Ownership and threads: every action and the look group are children of the
// QObject given to CreateFrameActions(); the struct only points at them.
// GUI thread only.
#pragma once

#include <vector>

#include <QString>

class QAction;
class QActionGroup;
class QObject;

struct FrameActions {
    QAction *setup, *connect, *disconnect, *rampUp, *rampDown, *upload, *download, *exportData,
        *information, *help, *about, *exit, *toggleErrorBar, *openLogFile;
    // Exclusive; each action's data() is its look id (AppLook, 215..219).
    QActionGroup* looks;
    std::vector<QAction*> lookActions;
};

FrameActions CreateFrameActions(QObject* parent);

// The rich-text tooltip of a ribbon button from "description\ntitle": the
// title in bold on the first line, the description under it.
QString RibbonToolTip(const QString& descriptionAndTitle);
