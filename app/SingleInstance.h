#pragma once
// One data folder belongs to one running Tarvok. Two programs on one folder would each
// write their own copy of a chat over the other's, so a second start on a folder hands
// over to the program already running there (its window comes to the front) and ends.

#include <QLockFile>
#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>

class QLocalServer;

namespace tarvok {

// Shown by a second start when the program running on the folder cannot be reached.
inline constexpr const char* kMsgAlreadyRunning = "Tarvok уже запущен с этой папкой данных.";

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  enum class TStart {
    First,       // this program owns the folder (or no lock can be made there at all)
    HandedOver,  // the program running there was asked to show its window and said so
    Refused,     // the folder is taken and its program did not answer
  };

  explicit TSingleInstance(const std::filesystem::path& ADataDir);
  ~TSingleInstance() override;

  // Takes the folder's lock; a lock left by a program that is no longer running is taken
  // over. When the folder is taken, asks its program to show its window.
  TStart Start();
  // Run when a later start on the same folder asks for the window.
  std::function<void()> OnActivate;

  // The name the running program listens under: per user and per data folder.
  static QString ServerName(const std::filesystem::path& ADataDir);
  // The lock file in the data folder.
  static std::filesystem::path LockPath(const std::filesystem::path& ADataDir);

 private:
  void Listen();
  bool HandOver();

  QLockFile FLock;
  QString FName;
  QLocalServer* FServer = nullptr;
};

}  // namespace tarvok
