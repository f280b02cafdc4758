// The agent's process: start-up, the single-instance rule, the hidden window and its messages.
#pragma once

#include "platform/win32.h"

constexpr int COMMAND_LINE_SIZE = 256;
constexpr int WINDOW_CLASS_NAME_SIZE = 64;

extern char windowClassName[WINDOW_CLASS_NAME_SIZE];
extern UINT topologyMessage;

// The instance name: the first word of the command line (words end at a comma or a blank),
// cut to 31 characters; empty when the line has no word. `name` holds 32 characters.
void TakeInstanceName(const char *commandLine, char *name);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand);
LRESULT CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
