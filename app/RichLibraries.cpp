#include "app/RichLibraries.h"

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

namespace tarvok {
namespace {

QByteArray Resource(const QString& AName) {
  QFile file(QStringLiteral(":/rich/") + AName);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// KaTeX's style names each font three times (woff2, woff, ttf) relative to itself; the
// engine reads woff2, so that one goes in as a data: URL and the others are dropped.
QByteArray InlineFonts(QByteArray ACss) {
  static const QRegularExpression kSource(QStringLiteral("src:url\\(fonts/([A-Za-z0-9_-]+)\\.woff2\\)[^;}]*"));
  QString css = QString::fromUtf8(ACss);
  QString out;
  qsizetype at = 0;
  for (auto it = kSource.globalMatch(css); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    out += css.mid(at, m.capturedStart() - at);
    const QByteArray font = Resource(QStringLiteral("fonts/") + m.captured(1) + QStringLiteral(".woff2"));
    out += QStringLiteral("src:url(data:font/woff2;base64,") + QString::fromLatin1(font.toBase64()) +
           QStringLiteral(") format('woff2')");
    at = m.capturedEnd();
  }
  out += css.mid(at);
  return out.toUtf8();
}

class TRichSchemeHandler : public QWebEngineUrlSchemeHandler {
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

  void requestStarted(QWebEngineUrlRequestJob* AJob) override {
    const QString name = AJob->requestUrl().path();
    QByteArray body, type;
    if (name == QLatin1String("page.css")) {
      body = RichPageStyle();
      type = "text/css";
    } else if (name == QLatin1String("katex.js") || name == QLatin1String("highlight.js") ||
               name == QLatin1String("rich.js") || name == QLatin1String("mermaid.js")) {
      body = Resource(name);
      type = "text/javascript";
    }
    if (body.isEmpty()) {
      AJob->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    auto* buffer = new QBuffer(AJob);
    buffer->setData(body);
    buffer->open(QIODevice::ReadOnly);
    AJob->reply(type, buffer);
  }
};

}  // namespace

void RegisterRichScheme() {
  if (QWebEngineUrlScheme::schemeByName(kRichScheme).name() == kRichScheme) return;
  QWebEngineUrlScheme scheme(kRichScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled);
  QWebEngineUrlScheme::registerScheme(scheme);
}

void InstallRichScheme(QWebEngineProfile* AProfile) {
  AProfile->installUrlSchemeHandler(kRichScheme, new TRichSchemeHandler(AProfile));
}

const QByteArray& RichPageStyle() {
  static const QByteArray kStyle =
      InlineFonts(Resource(QStringLiteral("katex.css"))) + '\n' + Resource(QStringLiteral("highlight.css")) + '\n' +
      Resource(QStringLiteral("rich.css"));
  return kStyle;
}

std::string WithRichLibraries(const std::string& AHtml) {
  std::string html = AHtml;
  const std::size_t head = html.rfind("</head>");
  if (head == std::string::npos) return html;
  const std::string scheme = kRichScheme;
  html.insert(head, "<link rel=\"stylesheet\" href=\"" + scheme + ":page.css\"><script defer src=\"" + scheme +
                        ":katex.js\"></script><script defer src=\"" + scheme + ":highlight.js\"></script><script defer src=\"" +
                        scheme + ":rich.js\"></script>");
  return html;
}

}  // namespace tarvok
