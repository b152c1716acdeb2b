#pragma once

namespace tarnwick {

class HttpClient;
class FileSystem;
class Clock;
class MessageBox;
class ProcessExit;

// The operating-system services the engine and the save layout reach. Not owned.
struct PlatformServices {
  HttpClient* http = nullptr;
  FileSystem* files = nullptr;
  Clock* clock = nullptr;
  MessageBox* messageBox = nullptr;
  ProcessExit* exit = nullptr;
};

}  // namespace tarnwick
