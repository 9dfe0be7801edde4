#pragma once
// The terminal's windows, created once at start-up in a fixed order and alive
// until the program ends. Handlers of one window reach the others through
// these, as the windows of the terminal cooperate closely (the connection
// refreshes the control panel, the polling step refreshes everything).

class TMain;
class TSets;
class TFront_Panel;
class TMeasure;
class TSelect;
class TAbout_Form;
class TConnectModem;
class TTimeZRV;
class TLogView;
class TLogProgress;

// The application title: the task bar's name for the program and the title
// of its plain messages.
inline constexpr const char* kApplicationTitle = "MODBUS Terminal";

struct Forms {
    TMain* main = nullptr;
    TSets* sets = nullptr;
    TFront_Panel* frontPanel = nullptr;
    TMeasure* measure = nullptr;
    TSelect* select = nullptr;
    TAbout_Form* about = nullptr;
    TConnectModem* connectModem = nullptr;
    TTimeZRV* timeZRV = nullptr;
    TLogView* logView = nullptr;
    TLogProgress* logProgress = nullptr;
};

// The process-wide set; filled by createForms, emptied by destroyForms.
Forms& forms();

// Creates every window in the binding order: TMain, TSets, TFront_Panel,
// TMeasure, TSelect, TAbout_Form, TConnectModem, TTimeZRV, TLogView,
// TLogProgress. The main window reads the settings file first, so that the
// later ones take their placement from it.
void createForms();
// Stops the workers, then deletes the windows in reverse order.
void destroyForms();
