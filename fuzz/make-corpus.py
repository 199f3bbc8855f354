#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/ from the recorded answers and pictures in
tests/fixtures: a handful of small inputs per target. Run it again after changing it;
inputs the fuzzer adds later are kept as they are."""
import json, pathlib

root = pathlib.Path(__file__).resolve().parent.parent
fixtures = root / "tests" / "fixtures"
answers = fixtures / "gemini-responses"
corpus = root / "fuzz" / "corpus"
BOM = b"\xef\xbb\xbf"


def put(target, name, data):
    folder = corpus / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode("utf-8"))


def answer_texts(name):
    doc = json.loads((answers / name).read_text(encoding="utf-8"))
    out = []
    for cand in (doc if isinstance(doc, list) else [doc])[0].get("candidates", []):
        out += [p["text"] for p in cand.get("content", {}).get("parts", []) if "text" in p]
    return out


def compact(value):
    # The stored form: compact, ASCII-only, "/" escaped.
    return json.dumps(value, ensure_ascii=True, separators=(",", ":")).replace("/", "\\/")


# Chat files: turns made of recorded answers, an attachment, a picture answer, a damaged tail.
kiwi = answer_texts("02-multi-text-parts-three.json")[-1]
weather = answer_texts("05-grounded-google-search.json")[0]
turns = [
    {"role": "user", "parts": [{"text": "Что это за фрукт?"},
                               {"inline_data": {"mime_type": "text/plain", "data": "0J/RgNC40LLQtdGC"},
                                "file_name": "C:\\Users\\Ира\\a.txt"}],
     "token_count": 12, "timestamp": "2025-03-14T10:00:00.123Z"},
    {"role": "model", "parts": [{"text": kiwi}], "token_count": 70, "timestamp": "2025-03-14T10:00:05.000Z",
     "model_name": "gemini-2.5-flash", "duration": "5"},
]
put("chat_file", "two-turns.json", BOM + compact({"contents": turns}).encode())
put("chat_file", "weather-no-bom.json", compact({"contents": [{"role": "model", "parts": [{"text": weather}],
                                                              "token_count": "204", "timestamp": "2025-03-14T10:00:05+03:00"}]}))
put("chat_file", "picture.json", BOM + compact({"contents": [{"role": "model", "parts": [
    {"inline_data": {"mime_type": "image/png", "data": "iVBORw0KGgo="}}], "token_count": 258}]}).encode())
put("chat_file", "damaged-tail.json", BOM + (compact({"contents": turns})[:-20]).encode())
put("chat_file", "odd-members.json", '{"contents":[{"role":"user","parts":[{"text":5}],"token_count":1.5e3},7,null]}')

# Answers with a success status, and error bodies.
for name in ["01-text-basic.json", "02-multi-text-parts-three.json", "03-image-text-inline-trimmed.json",
             "04-blocked-prompt.json", "04-max-tokens-no-parts.json", "04-safety-empty-content.json",
             "05-url-context-raw.json", "06-error-500-internal.json"]:
    put("response_body", name, (answers / name).read_bytes())
for name in ["06-error-400-api-key-invalid.json", "06-error-403-leaked-key-raw.json",
             "06-error-429-quota-details-raw.json", "06-error-503-overloaded.json",
             "06-error-503-overloaded-array-stream.json"]:
    put("error_message", name, (answers / name).read_bytes())

# What the CLI prints.
put("cli_output", "plain.txt", "Loaded cached credentials.\n" + json.dumps(
    {"response": kiwi, "stats": {"models": {"gemini-2.5-flash": {"tokens": {"prompt": 40, "candidates": 70, "total": 110}}}}}))
put("cli_output", "error.txt", json.dumps({"error": {"type": "Error", "message": "Квота исчерпана", "code": 429}}))
put("cli_output", "usage.txt", '{"a":1} {"response":"Hi","usageMetadata":{"promptTokenCount":5,"candidatesTokenCount":6,"totalTokenCount":11}}')
put("cli_output", "not-json.txt", "Error: Failed to fetch\r\n    at node:internal\r\n")

# Search: query, NUL, the content of a chat file.
chat = compact({"contents": turns})
for name, query in [("words.txt", "КИВИ fruit"), ("quoted.txt", '"green flesh" ""quote""'), ("blank.txt", " \t ")]:
    put("search_query", name, query.encode() + b"\0" + BOM + chat.encode())

# Markdown answers.
for i, text in enumerate(answer_texts("02-thought-part.json")[-1:] + [weather, kiwi]):
    put("markdown", f"answer-{i}.md", text[:3000])
put("markdown", "code-and-table.md",
    "Код:\n\n```cpp\nint main() { return 0; }\n```\n\n| a | b |\n|---|---|\n| ~~x~~ | <b>y</b> |\n\n"
    "<script>alert(1)</script> [link](javascript:alert(1)) https://example.com\n\n    indented <pre>\n")
put("markdown", "math.md",
    "Сортировка $O(n \\log n)$, $$C(n) \\approx 2n \\ln n$$ и \\(a_1\\), \\[\\frac{1}{2}\\].\n\n"
    "| f | $|x|$ |\n|---|---|\n| $5 | $10 |\n\n`echo $HOME` \\$x\\$ [l](http://e/$x$) $a\n\nb$ "
    "$\\href{javascript:alert(1)}{x}$ tvkmath0x\n\n```\n$y$\n```\n")

# Counter files.
put("counter_file", "legacy.txt", b"2025-03-14;gemini-2.5-flash;12\r\n2025-03-14;\"model with blanks\";3\r\n")
put("counter_file", "utf8-bom.txt", BOM + "2025-03-14;модель;4\r\n".encode())
put("counter_file", "utf16le.txt", b"\xff\xfe" + "2025-03-14;gemini-2.5-pro;7\r\n".encode("utf-16-le"))
put("counter_file", "odd-fields.txt", b"2025-03-14 ; gemini ;\r\n;;\n\"\"\"x\"\"\";1;2;3\r")

# config.ini and the lists.
put("settings_files", "config.ini", BOM + (
    "[Settings]\r\nMaxInputTextLength=30020\r\nMaxContextTokens=80000\r\nMaxOutputTokens=300000\r\n"
    "GeminiApiUrlBase=http://127.0.0.1:8080/v1beta/models/%s:%s?key=\r\nMethodGenerate=generateContent\r\n"
    "CreativityLevel=2\r\nLastSaveDir=C:\\Users\\Иван\r\n[Other]\r\n; comment\r\nKey = Value\r\n").encode())
put("settings_files", "keys-legacy.txt", "AIzaSyA-first\r\nключ\r\n".encode("cp1251"))
put("settings_files", "models-utf16be.txt", b"\xfe\xff" + "gemini-2.5-flash\r\ngemini-2.5-flash-image\r\n".encode("utf-16-be"))
put("settings_files", "mixed-ends.txt", BOM + "a\rb\nc\r\n\r\n[Settings\r\n=x\r\n".encode())

# Text attachments.
put("text_decode", "utf8.txt", "Привет, мир! 😀\n".encode())
put("text_decode", "cp1251.txt", "Привет, мир!\r\n".encode("cp1251"))
put("text_decode", "utf16le-bom.txt", b"\xff\xfe" + "Привет 😀".encode("utf-16-le"))
put("text_decode", "utf16be-odd.txt", b"\xfe\xff" + "ok".encode("utf-16-be") + b"\xd8")
put("text_decode", "broken-utf8.txt", b"abc\xc3\x28\xe2\x82\xed\xa0\x80\xf4\x90\x80\x80\xc0\xaf")

# Streamed answers: a read plan (a count, then 16-bit sizes) and the stream, at most 4 KB of
# it (a long recording is cut inside an event). The reads end just after a CR, so the LF of
# a CR LF arrives in the next read.
def stream_seed(stream, cuts=()):
    sizes, last = [], 0
    for cut in list(cuts)[:15]:
        sizes.append(cut - last)
        last = cut
    return bytes([len(sizes)]) + b"".join(n.to_bytes(2, "little") for n in sizes) + stream


for name in sorted(p.name for p in answers.glob("07-stream-*.sse")):
    data = (answers / name).read_bytes()[:4096]
    put("sse_stream", name, stream_seed(data, [i + 1 for i, b in enumerate(data) if b == 13][:15]))
for name in ["07-stream-payloads-gemini3.jsonl", "07-stream-payloads-blocked-prompt.jsonl"]:
    lines = [line for line in (answers / name).read_bytes().splitlines() if line.strip()]
    put("sse_stream", name.replace(".jsonl", "-lf.sse"), stream_seed(b"".join(b"data:" + line + b"\n\n" for line in lines)))
text = lambda t: ('{"candidates":[{"content":{"parts":[{"text":%s}]}}]}' % json.dumps(t)).encode()
put("sse_stream", "odd-framing.sse", stream_seed(
    b": keep-alive\r\rid: 1\revent: message\rdata: " + text("a")[:14] + b"\rdata: " + text("a")[14:] + b"\r\r"
    b"retry: 10\ndata\n\ndata: [DONE]\n\n", [3, 14, 40]))
put("sse_stream", "error-after-text.sse", stream_seed(
    b"data: " + text("Half") + b"\r\n\r\ndata: " + json.dumps({"error": {"code": 503, "message": "overloaded"}}).encode()
    + b"\r\n\r\n"))
put("sse_stream", "picture-then-cut.sse", stream_seed(
    b"data: " + text("Here") + b"\r\n\r\ndata: " + json.dumps({"candidates": [{"content": {"parts": [
        {"inlineData": {"mimeType": "image/png", "data": "iVBORw0KGgo="}}]}, "finishReason": "STOP"}]}).encode()
    + b"\r\n\r\ndata: {\"cand"))
put("sse_stream", "one-event-surrogate.sse", stream_seed(b'data: {"candidates":[{"content":{"parts":[{"text":"a\\ud83d"}]}}]}\n\n'))

# Picture headers: the first kilobyte of each kind is all the reader looks at.
for name in ["icon-rgba.png", "photo-baseline.jpg", "photo-progressive.jpg", "photo-cmyk.jpg", "old-gif87a.gif",
             "anim.gif", "bitmap-v3.bmp", "bitmap-v5.bmp", "photo-800x600.webp", "truncated-header-only.jpg",
             "not-a-picture.png"]:
    put("picture_header", name, (fixtures / "pictures" / name).read_bytes()[:1024])
