#include "app/DesktopActions.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <string>

#include "app/AttachmentsPanel.h"
#include "app/DesktopTexts.h"
#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/RichExport.h"
#include "app/UiTexts.h"
#include "core/DataFolder.h"
#include "core/DateTime.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "storage/Base64.h"
#include "storage/ChatLibrary.h"
#include "view/ChatExport.h"

namespace tarvok {
namespace {

QList<QUrl> LocalFiles(const QMimeData* AData) {
  QList<QUrl> out;
  if (!AData || !AData->hasUrls()) return out;
  for (const QUrl& url : AData->urls())
    if (url.isLocalFile()) out << url;
  return out;
}

}  // namespace

QAction* Shortcut(TForm1& AForm, const char* AName, const QKeySequence& AKeys) {
  auto* action = new QAction(&AForm);
  action->setObjectName(AName);
  action->setShortcut(AKeys);
  action->setShortcutContext(Qt::WindowShortcut);
  AForm.addAction(action);
  return action;
}


TDesktopActions::TDesktopActions(TForm1& AForm) : QObject(&AForm), F(AForm) {
  ExportChat = F.ListBox2PopupMenu->addAction(Q(ui::kMenuExportChat));
  ExportChat->setObjectName("ExportChat");
  connect(ExportChat, &QAction::triggered, this, [this] { F.RunCommand([this] { ExportChatClick(); }); });

  NewChatShortcut = Shortcut(F, "NewChatShortcut", QKeySequence(Qt::CTRL | Qt::Key_N));
  connect(NewChatShortcut, &QAction::triggered, F.btnNewChat, &QPushButton::click);  // does nothing while disabled
  SearchShortcut = Shortcut(F, "SearchShortcut", QKeySequence(Qt::CTRL | Qt::Key_F));
  connect(SearchShortcut, &QAction::triggered, this, [this] {
    F.Edit1->setFocus(Qt::ShortcutFocusReason);
    F.Edit1->selectAll();
  });
  AttachShortcut = Shortcut(F, "AttachShortcut", QKeySequence(Qt::CTRL | Qt::Key_O));
  connect(AttachShortcut, &QAction::triggered, F.btnAddFile1, &QPushButton::click);
  HelpShortcut = Shortcut(F, "HelpShortcut", QKeySequence(Qt::Key_F1));
  connect(HelpShortcut, &QAction::triggered, this, [this] { ShowKeyHelp(); });

  // Qt delivers drops only to widgets that take them; the prompt box and the browser
  // view do already.
  for (QWidget* target : {F.WebBrowser1, static_cast<QWidget*>(F.ListBox1), F.ListBox1->viewport()})
    target->setAcceptDrops(true);
  // Drops land on whatever inner widget the browser engine made, so the filter watches
  // the whole application and picks the events aimed at the three targets.
  qApp->installEventFilter(this);
  // A new user types a prompt first.
  F.memoPrompt->setFocus(Qt::OtherFocusReason);
}

bool TDesktopActions::IsDropTarget(QObject* AObject) const {
  auto* widget = qobject_cast<QWidget*>(AObject);
  if (!widget || widget->window() != &F) return false;
  for (QWidget* target : {F.WebBrowser1, static_cast<QWidget*>(F.memoPrompt), static_cast<QWidget*>(F.ListBox1)})
    if (target && (widget == target || target->isAncestorOf(widget))) return true;
  return false;
}

bool TDesktopActions::eventFilter(QObject* AWatched, QEvent* AEvent) {
  switch (AEvent->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(AEvent);
      if (!IsDropTarget(AWatched) || LocalFiles(drag->mimeData()).isEmpty()) break;
      if (F.btnAddFile1->isEnabled()) drag->acceptProposedAction();
      else drag->ignore();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(AEvent);
      if (!IsDropTarget(AWatched) || LocalFiles(drop->mimeData()).isEmpty()) break;
      drop->acceptProposedAction();
      if (F.btnAddFile1->isEnabled()) {
        const QList<QUrl> urls = LocalFiles(drop->mimeData());
        F.RunCommand([&] { AttachUrls(urls); });
      }
      return true;
    }
    case QEvent::KeyPress:
      if (AWatched == F.memoPrompt && static_cast<QKeyEvent*>(AEvent)->matches(QKeySequence::Paste)) {
        bool handled = false;
        F.RunCommand([&] { handled = PasteIntoPrompt(QGuiApplication::clipboard()->mimeData()); });
        return handled;
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(AWatched, AEvent);
}

bool TDesktopActions::AttachUrls(const QList<QUrl>& AUrls) {
  QStringList files;
  bool any = false;
  for (const QUrl& url : AUrls) {
    if (!url.isLocalFile()) continue;
    any = true;
    const QString path = QDir::toNativeSeparators(url.toLocalFile());
    const QFileInfo info(path);
    if (info.isDir()) F.Dlg().ShowMessage(Q(ui::kMsgFolderStart) + info.fileName() + Q(ui::kMsgFolderEnd));
    else files << path;
  }
  if (!files.isEmpty()) F.Attachments().AddFiles(files);
  return any;
}

QString TDesktopActions::SavePastedPicture(const QMimeData* AData) {
  const QImage image = qvariant_cast<QImage>(AData->imageData());
  if (image.isNull()) return {};
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) throw TFileError("PNG");
  const std::filesystem::path folder = ProgramDir() / "attachments";
  std::filesystem::create_directories(folder);
  const std::string stamp = FormatDateTime("yyyy-mm-dd_hhnnss_zzz", Now());
  std::filesystem::path file = folder / ("paste_" + stamp + ".png");
  for (int n = 2; std::filesystem::exists(file); ++n)
    file = folder / ("paste_" + stamp + "_" + std::to_string(n) + ".png");
  WriteFileAtomic(file, std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
  return Q(PathToUtf8(file));
}

bool TDesktopActions::PasteIntoPrompt(const QMimeData* AData) {
  if (!AData) return false;
  if (AttachUrls(LocalFiles(AData))) return true;
  // Cells copied from a spreadsheet bring a picture of themselves beside their text: the
  // text is what the user meant, so a picture is attached only when there is no text.
  if (AData->hasText() && !AData->text().trimmed().isEmpty()) return false;
  if (!AData->hasImage()) return false;
  QString saved;
  try {
    saved = SavePastedPicture(AData);
  } catch (const std::exception& e) {
    F.Dlg().ShowMessage(Q(ui::kMsgPastePictureFailed) + Q(e.what()));
    return true;
  }
  if (saved.isEmpty()) return false;
  F.Attachments().AddFiles({saved});
  return true;
}

void TDesktopActions::ExportChatClick() {
  const TChatHistory& history = F.GeminiDM().ChatHistory();
  if (history.empty()) {
    F.Dlg().ShowMessage(Q(ui::kMsgExportEmpty));
    return;
  }
  const std::string current = PathToUtf8(PathFromUtf8(F.FCurrentChatFile).stem());
  const QString proposed = current.empty() ? QStringLiteral("chat") : Q(current);
  QString dir = FLastExportDir;
  if (dir.isEmpty() || !QFileInfo(dir).isDir()) dir = QDir::homePath();
  QString filter = Q(ui::kExportFilterMarkdown);
  QString chosen = F.Dlg().SaveFile(Q(ui::kExportTitle), dir, proposed + ".md", Q(ui::kExportFilter),
                                    FilterSuffix(filter), &filter);
  if (chosen.isEmpty()) return;
  // The type the user picked decides the format, whatever the name ends with.
  const bool html = filter == Q(ui::kExportFilterHtml);
  if (QFileInfo(chosen).suffix().isEmpty()) {
    chosen += QLatin1Char('.') + FilterSuffix(Q(html ? ui::kExportFilterHtml : ui::kExportFilterMarkdown));
    if (QFileInfo::exists(chosen) &&
        !F.Dlg().AskYesNo(Q(ui::kAskReplaceExportStart) + QFileInfo(chosen).fileName() + Q(ui::kAskReplaceExportEnd),
                          Q(ui::kExportTitle), Dialogs::Icon::Warning))
      return;
  }
  const std::filesystem::path path = PathFromUtf8(S(chosen));
  FLastExportDir = Q(PathToUtf8(path.parent_path()));
  try {
    if (html) {
      const std::string title = current.empty() ? std::string("chat") : ChatDisplayName(current + ".json");
      WriteFileAtomic(path, WithDecoratedAnswers(ChatToHtml(history, title)));
    } else {
      // A file already beside the export (an earlier export's picture, anything) is kept:
      // the pictures take the next free numbers.
      const auto taken = [folder = path.parent_path()](const std::string& AName) {
        std::error_code error;
        return std::filesystem::exists(std::filesystem::symlink_status(folder / PathFromUtf8(AName), error));
      };
      const TMarkdownExport md = ChatToMarkdown(history, PathToUtf8(path.stem()), taken);
      for (const TExportPicture& picture : md.Pictures) {
        std::string bytes;
        if (!Base64Decode(picture.Base64Data.view(), bytes)) continue;  // a broken picture shows as a dead link
        WriteFileAtomic(path.parent_path() / PathFromUtf8(picture.FileName), bytes);
      }
      WriteFileAtomic(path, md.Text);
    }
  } catch (const std::exception& e) {
    F.Dlg().ShowMessage(Q(ui::kMsgExportFailed) + Q(e.what()));
    return;
  }
  F.SetStatusText(std::string(ui::kStatusExported) + PathToUtf8(path));
}

void TDesktopActions::ShowKeyHelp() {
  const auto help = InstallDir() / "AddKey.html";
  if (std::filesystem::exists(help)) F.ChatView().ShowHelpPage(Q(PathToUtf8(help)), false);
}

}  // namespace tarvok
