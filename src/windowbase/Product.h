#pragma once
// What the program calls itself.

// The application title: the task bar's name for the program and the title
// of its plain messages.
inline constexpr const char* kApplicationTitle = "MODBUS Terminal";

// The device's model designation, in the main window's title and the About box.
inline constexpr const char* kModel = "DGR-8";
