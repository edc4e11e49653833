import subprocess

data = "0123456789" * 5000000
cmd = ["sh", "-c", "head -c 100000000 /dev/zero | tr '\\0' a & head -c 100000000 /dev/zero | tr '\\0' b >&2 & cat > /dev/null; wait"]
r = subprocess.run(cmd, input=data, capture_output=True, text=True)
print(r.returncode, len(r.stdout), len(r.stderr))
