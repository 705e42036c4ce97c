// Opening the sample and instrument parameter windows, and keeping the open
// ones (the registry `samwin`) in step with each other and with the tables.
#pragma once

// Shared by every instrument window for the whole run: "Auto Map" is on.
extern bool autom;

// GUI thread. Opens the parameter window of the selected sound, or with
// `instrument` set the map window of its instrument; when that window is
// already open it is refreshed and brought to the front instead. Refused
// while 128 are open.
void appel_sam(bool instrument);

// GUI thread. Posts 'rafr' to every open parameter window.
void rafr_all();

// GUI thread. After sounds or instruments were inserted or deleted: windows
// whose sound or instrument was deleted close, the others follow theirs to
// its new place (see ParamWindow::follow) and refresh.
void param_windows_follow(int at, int by, int inst_at, int inst_by);
