#!/usr/bin/env python3
"""The maker's two servers for the end-to-end scenarios, on 127.0.0.1.

Serves the files of a folder: "/support/LiveUpdate.asp?Model=M" answers the
file "catalogue/<M with / as _>.xml"; any other path answers the file at that
path under the folder. A path listed in the folder's "status.txt" as
"<path> <code>" answers that status instead. Every request is appended to
"requests.log" in the folder. Prints the chosen port on its first line.
"""
import http.server
import os
import sys
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    root = "."

    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(os.path.join(self.root, "requests.log"), "a") as log:
            log.write(self.path + " agent=" + repr(self.headers.get("User-Agent")) + "\n")
        url = urllib.parse.urlsplit(self.path)
        path = url.path
        statuses = {}
        status_file = os.path.join(self.root, "status.txt")
        if os.path.exists(status_file):
            with open(status_file) as lines:
                entries = list(lines)
            for line in entries:
                if line.strip():
                    key, code = line.rsplit(None, 1)
                    statuses[key] = int(code)
        if path in statuses:
            self.send_response(statuses[path])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if path == "/support/LiveUpdate.asp":
            # The model name arrives unescaped; keep everything after "Model=".
            model = url.query.split("Model=", 1)[1] if "Model=" in url.query else ""
            model = urllib.parse.unquote(model)
            local = os.path.join(self.root, "catalogue", model.replace("/", "_") + ".xml")
        else:
            local = os.path.normpath(os.path.join(self.root, path.lstrip("/")))
            if not local.startswith(os.path.abspath(self.root)):
                local = ""
        if not local or not os.path.isfile(local):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with open(local, "rb") as source:
            body = source.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    Handler.root = os.path.abspath(sys.argv[1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
