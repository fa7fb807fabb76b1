# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Precompiled headers for the library. Its fifty sources each spend about
# three quarters of their compile time in Qt's and the standard library's
# headers; parsed once a target, the library (which every program needs,
# and which scripts/demo builds first) compiles in about half the time.
# ccache caches these compilations too, given the sloppiness scripts/build
# sets (pch_defines, time_macros).
option(KV_PRECOMPILE_HEADERS "Precompile Qt's and the standard library's headers for the library" ON)
if(KV_PRECOMPILE_HEADERS)
    set(kv_precompiled
        <QByteArray> <QObject> <QString> <QStringList> <QVector> <QFile>
        <algorithm> <atomic> <functional> <memory> <mutex> <optional> <thread>)
    target_precompile_headers(kvsystem2_backend PRIVATE ${kv_precompiled})
    target_precompile_headers(kvsystem2 PRIVATE ${kv_precompiled})
endif()
