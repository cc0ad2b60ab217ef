"""check_package.py CPACK BUILD_DIR STRIP UPDATER_EXE: runs cpack in the
windows build and unpacks the zip with Python's zipfile: it must hold, at
its top level, exactly the stripped updater, Config.ini and README.txt, each
byte for byte as built. strip stamps a PE file with the time it runs unless
SOURCE_DATE_EPOCH says otherwise, so both strips run with one."""

import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import zipfile


def main():
    cpack, build, strip, exe = sys.argv[1], pathlib.Path(sys.argv[2]), sys.argv[3], sys.argv[4]
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    with tempfile.TemporaryDirectory() as tmp:
        out = pathlib.Path(tmp)
        subprocess.run([cpack, "-B", out / "package"], cwd=build, env=env, check=True,
                       stdout=subprocess.DEVNULL)
        zips = list((out / "package").glob("*.zip"))
        if len(zips) != 1:
            raise SystemExit(f"expected one zip, found {zips}")
        stripped = out / "torvane-update.exe"
        shutil.copyfile(exe, stripped)
        subprocess.run([strip, stripped], env=env, check=True)
        wanted = {
            "torvane-update.exe": stripped.read_bytes(),
            "Config.ini": (build / "package-texts" / "Config.ini").read_bytes(),
            "README.txt": (build / "package-texts" / "README.txt").read_bytes(),
        }
        with zipfile.ZipFile(zips[0]) as z:
            bad = z.testzip()
            if bad:
                raise SystemExit(f"{zips[0].name}: {bad} fails its CRC")
            names = sorted(z.namelist())
            if names != sorted(wanted):
                raise SystemExit(f"{zips[0].name} holds {names}, wanted {sorted(wanted)}")
            for name, data in wanted.items():
                if z.read(name) != data:
                    raise SystemExit(f"{name} in {zips[0].name} differs from the build's")
    print(f"{zips[0].name}: {', '.join(names)}")


main()
