#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <system_error>

#include "core/Platform.h"

namespace tarvok {
namespace {

constexpr char kActivate[] = "activate\n";
constexpr char kShown[] = "shown\n";
// A program busy with a long step still answers within this; one that does not is taken
// for hung, and the user is told instead.
constexpr int kAnswerWaitMs = 5000;

}  // namespace

TSingleInstance::TSingleInstance(const std::filesystem::path& ADataDir)
    : FLock(QString::fromStdString(PathToUtf8(LockPath(ADataDir)))), FName(ServerName(ADataDir)) {
  // Only a dead owner makes a lock stale: a program that has run for weeks still owns it.
  FLock.setStaleLockTime(0);
}

TSingleInstance::~TSingleInstance() {
  if (FServer) FServer->close();
}

std::filesystem::path TSingleInstance::LockPath(const std::filesystem::path& ADataDir) {
  return ADataDir / ".tarvok.lock";
}

QString TSingleInstance::ServerName(const std::filesystem::path& ADataDir) {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::weakly_canonical(ADataDir, ec);
  if (ec) folder = ADataDir;
  // The home folder stands for the user: two users' programs never meet, even on one folder.
  const QByteArray key = QDir::homePath().toUtf8() + '\n' + QByteArray::fromStdString(PathToUtf8(folder));
  return QStringLiteral("tarvok-") +
         QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32));
}

TSingleInstance::TStart TSingleInstance::Start() {
  if (FLock.tryLock(0)) {
    Listen();
    return TStart::First;
  }
  // A folder that takes no lock file takes no chats either; the window says so itself.
  if (FLock.error() != QLockFile::LockFailedError) return TStart::First;
  return HandOver() ? TStart::HandedOver : TStart::Refused;
}

void TSingleInstance::Listen() {
  FServer = new QLocalServer(this);
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  // A socket left by a program that ended without closing it; the lock says it is gone.
  QLocalServer::removeServer(FName);
  if (!FServer->listen(FName)) return;  // later starts are then told instead of handed over
  connect(FServer, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) return;
        if (socket->readLine() == kActivate) {
          if (OnActivate) OnActivate();
          socket->write(kShown);
          socket->flush();
        }
        socket->disconnectFromServer();
      });
    }
  });
}

bool TSingleInstance::HandOver() {
  QLocalSocket socket;
  socket.connectToServer(FName);
  if (!socket.waitForConnected(kAnswerWaitMs)) return false;
  socket.write(kActivate);
  if (!socket.waitForBytesWritten(kAnswerWaitMs)) return false;
  QElapsedTimer waited;
  waited.start();
  while (!socket.canReadLine()) {
    const int left = kAnswerWaitMs - static_cast<int>(waited.elapsed());
    if (left <= 0 || !socket.waitForReadyRead(left)) return false;
  }
  return socket.readLine() == kShown;
}

}  // namespace tarvok
