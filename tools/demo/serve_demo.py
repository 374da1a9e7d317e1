#!/usr/bin/env python3
"""Points the running release server (control mode) at the demo package.

Builds the manifest for the package (size and SHA-256 computed here) and signs it with the test
PKI's manifest key, then defines the manifest, its signature, the package and metrics routes
through the server's control API.

    serve_demo.py --port 8443 --ca build/pki/ca.crt --package build/artifacts/VIVOV3_Setup_x64.exe
"""

import argparse
import base64
import hashlib
import json
import os
import ssl
import subprocess
import sys
import urllib.request

CHANNELS = ["guanwang", "lenovo", "tencent", "huawei", "kingsoft", "baidu", "baidu2", "huorong",
            "tianji", "tianji2", "yyb", "bing", "microsoft", "zol", "huajun", "xiaomi", "honor",
            "360"]


def control(port, context, path, payload):
    request = urllib.request.Request(
        "https://localhost:%d/_control/%s" % (port, path), data=json.dumps(payload).encode(),
        headers={"Content-Type": "application/json"}, method="POST")
    with urllib.request.urlopen(request, context=context, timeout=10) as response:
        return json.loads(response.read() or b"{}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--ca", required=True, help="root CA that signed the server certificate")
    parser.add_argument("--package", required=True, help="signed package to serve")
    parser.add_argument("--version", default="2.0.0", help="version the manifest announces")
    parser.add_argument("--seconds", type=float, default=0,
                        help="spread the package download over about this many seconds")
    parser.add_argument("--first-seconds", type=float, default=0,
                        help="spread only the first package response over about this many seconds")
    parser.add_argument("--etag", default="",
                        help="validator to send as the package's ETag (and to honour in If-Range)")
    parser.add_argument("--manifest-status", type=int, default=0,
                        help="answer the manifest request with this status instead")
    parser.add_argument("--sequence", type=int, default=1, help="the manifest's sequence")
    parser.add_argument("--package-url",
                        help="URL the manifest names for the package (default: this server's "
                        "package route); the package route is defined here all the same")
    parser.add_argument("--manifest-key",
                        help="manifest signing key (default: manifest.key beside --ca; without "
                        "it the manifest goes unsigned, as for builds from before signing)")
    args = parser.parse_args()

    digest = hashlib.sha256()
    with open(args.package, "rb") as package:
        for block in iter(lambda: package.read(1 << 20), b""):
            digest.update(block)
    package_path = "/packages/VIVOV3_Setup_x64.exe"
    manifest = {
        "schemaVersion": 1,
        "minimumBootstrapperVersion": "1.0.0",
        "sequence": args.sequence,
        "payloads": {
            "lumora-x64": {
                "version": args.version,
                "architecture": "x64",
                "mode": "bundled",
                "url": args.package_url or "https://localhost:%d%s" % (args.port, package_path),
                "sha256": digest.hexdigest(),
                "publisher": "Velmont Harbor Network Technology Co., Ltd.",
                "size": os.path.getsize(args.package),
            }
        },
        "channels": {channel: "lumora-x64" for channel in CHANNELS},
    }
    context = ssl.create_default_context(cafile=args.ca)
    control(args.port, context, "reset", {})
    body = json.dumps(manifest).encode()
    manifest_route = {"path": "/storage/manifest.json", "method": "GET",
                      "body_base64": base64.b64encode(body).decode(),
                      "headers": {"Content-Type": "application/json"}}
    if args.manifest_status:
        manifest_route["status"] = args.manifest_status
    routes = [manifest_route]
    key = args.manifest_key or os.path.join(os.path.dirname(args.ca), "manifest.key")
    if args.manifest_key or os.path.exists(key):
        signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=body,
                                   capture_output=True, check=True).stdout
        routes.append({"path": "/storage/manifest.json.sig", "method": "GET",
                       "body_base64": base64.b64encode(signature).decode()})
    package_route = {"path": package_path, "method": "GET", "file": os.path.abspath(args.package)}
    if args.etag:
        package_route["etag"] = args.etag

    def spread(response, seconds):
        steps = 100
        response["trickle_chunk"] = max(1, os.path.getsize(args.package) // steps)
        response["trickle_delay"] = seconds / steps

    if args.seconds > 0:
        spread(package_route, args.seconds)
    if args.first_seconds > 0:
        first = {key: value for key, value in package_route.items() if key not in ("path", "method")}
        spread(first, args.first_seconds)
        package_route["responses"] = [first, dict(first, trickle_chunk=0, trickle_delay=0)]
    control(args.port, context, "routes", {"routes": routes + [package_route]})
    print("serving %s (%d bytes, sha256 %s)" % (package_path, os.path.getsize(args.package),
                                              digest.hexdigest()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
