#pragma once

// Dialog template 102 and its controls. The numbers are fixed: the resource script and the
// command routing use them.
constexpr int UpgradeDialogTemplateId = 102;
constexpr int AppIconResourceId = 128;

constexpr int IdOk = 1;        // Enter while the focus is not on a push button
constexpr int IdCancel = 2;    // Esc and the close box
constexpr int IdYes = 6;
constexpr int IdNo = 7;

constexpr int ControlDeviceCombo = 1000;
constexpr int ControlProgress = 1001;
constexpr int ControlFirmwarePath = 1002;
constexpr int ControlStatusLine = 1004;
constexpr int ControlSave = 1009;
constexpr int ControlUpgrade = 1010;
constexpr int ControlExit = 1011;
constexpr int ControlBrowse = 1014;
