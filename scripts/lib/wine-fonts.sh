# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced, not run. wine_prefix_fonts: gives the fresh prefix in WINEPREFIX
# the fonts the window asks for, so that it draws as on Windows:
#   - Tahoma, regular and bold: wine's own (fonts-wine), which this wine does
#     not load from its data folder; without them it draws in DejaVu Sans,
#     whose wider bold cuts the radio buttons' captions;
#   - the Chinese texts: WenQuanYi Micro Hei (fonts-wqy-microhei) linked
#     behind Tahoma, as Windows links its CJK fonts, and standing in for
#     SimSun ("宋体", the wait box's face).
# Run it after wineboot, before the drives are mapped; it leaves no server.
wine_prefix_fonts() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
    local cjk='WenQuanYi Micro Hei'
    mkdir -p "$fonts" || return 1
    cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$fonts/" || return 1
    local face
    # Wine looks the bold face's link up under its own name.
    for face in Tahoma "Tahoma Bold"; do
        timeout 60 wine reg add "$key\\FontLink\\SystemLink" /v "$face" /t REG_MULTI_SZ \
            /d "wqy-microhei.ttc,$cjk" /f >/dev/null 2>&1 || return 1
    done
    for face in SimSun 宋体; do
        timeout 60 wine reg add "$key\\FontSubstitutes" /v "$face" /t REG_SZ /d "$cjk" /f >/dev/null 2>&1 || return 1
    done
    timeout 120 wineserver -w
}
