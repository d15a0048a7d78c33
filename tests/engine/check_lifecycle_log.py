#!/usr/bin/env python3
"""Reads the "Log.txt" a whole engine life left and checks that the start-up and end sequences appear in order
with their exact texts, that every line has the time-stamp form, and that the allocation dump showing no live
block is the last block.  Usage: check_lifecycle_log.py RUN_FOLDER"""
import re
import sys

# Each entry: a regular expression one line must match (after the "ms:" prefix and the indent), in this order.
EXPECTED = [
    r"システムの情報を出力します",
    r"\tＱＶライブラリ Ver.+",
    r"\t論理プロセッサの数 : \d+",
    r"\tＯＳ  Windows.*\( Build \d+ .*\)",
    r"ＣＯＭの初期化\.\.\. 成功しました",
    r"メモリ総量:\d+\.\d\dMB  空きメモリ領域:\d+\.\d\dMB ",
    r"タイマーの精度を検査します",
    r"精度結果 更新回数 マルチメディアタイマー：\d+  パフォーマンスカウンター：\d+",
    r"(パフォーマンスカウンターを使用します タイマー精度 : \d+\.\d{6} KHz |Multi Media Timer を使用します Timer 精度 : \d+\.00 ms )",
    r"ソフトの二重起動検査\.\.\. 二重起動はされていませんでした",
    r"ウインドウクラスを登録します\.\.\. 登録に成功しました",
    r"ウインドウモード起動用のウインドウを作成します",
    r"ウインドウの作成に成功しました",
    r"ＩＭＥを無効にしました",
    r"ウインドウスタイルをウインドウモード用に変更します\.\.\. 完了",
    r"通信エラー No\.1",
    r"ウインドウを閉じようとしています",
    r"ウインドウが破棄されようとしています",
    r"ソフトを終了する準備が整いました",
    r"ＣＯＭを終了\.\.\. 完了",
    r"",
    r"Alloc memory dump",
    r"\tTotal size:0\(0\.000kb\)  Alloc num:0",
    r"",
]

FORBIDDEN = [r"二重起動されています", r"失敗", r"２４ビット"]


def main():
    raw = open(sys.argv[1] + "/Log.txt", "rb").read()
    text = raw.decode("cp932")
    assert text.endswith("\r\n"), "the log does not end with a line end"
    lines = text[:-2].split("\r\n")
    bodies = []
    for number, line in enumerate(lines, 1):
        match = re.fullmatch(r"(\d+):(.*)", line, re.S)
        assert match, f"line {number} has no time stamp: {line!r}"
        bodies.append(match.group(2))
    position = 0
    for pattern in EXPECTED:
        while position < len(bodies) and not re.fullmatch(pattern, bodies[position]):
            position += 1
        assert position < len(bodies), f"missing, or out of order: {pattern!r}\n" + "\n".join(bodies)
        position += 1
    assert position == len(bodies), "the allocation dump is not the last block:\n" + "\n".join(bodies[position:])
    for pattern in FORBIDDEN:
        for body in bodies:
            assert not re.search(pattern, body), f"unexpected line: {body!r}"
    print(f"{len(bodies)} log lines in order")


if __name__ == "__main__":
    main()
