# Fails, naming the file, when code outside a forms/ folder (or main.cpp) includes a Qt
# Widgets header: logic libraries must stay testable without a display.
file(GLOB_RECURSE files
    ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.c
    ${SOURCE_DIR}/arclibs/*.h ${SOURCE_DIR}/arclibs/*.cpp ${SOURCE_DIR}/arclibs/*.c
    ${SOURCE_DIR}/spi/*.h ${SOURCE_DIR}/spi/*.cpp ${SOURCE_DIR}/spi/*.c)
set(widgets_classes
    QApplication QWidget QMainWindow QDialog QLabel QPushButton QCheckBox QLineEdit QMenu
    QMenuBar QToolBar QStatusBar QMessageBox QListView QTreeView QTreeWidget QListWidget
    QComboBox QSplitter QGroupBox QFileDialog QPrintDialog QScrollArea QAbstractButton
    QRadioButton QSlider QSpinBox QTableView QHeaderView QStyle)
set(bad "")
foreach(f IN LISTS files)
    if(f MATCHES "/forms/" OR f MATCHES "/src/app/main\\.cpp$")
        continue()
    endif()
    file(STRINGS ${f} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
        if(line MATCHES "QtWidgets" OR line MATCHES "QtPrintSupport" OR line MATCHES "QtMultimediaWidgets")
            list(APPEND bad "${f}: ${line}")
        else()
            foreach(c IN LISTS widgets_classes)
                if(line MATCHES "[<\"/]${c}[>\"]")
                    list(APPEND bad "${f}: ${line}")
                endif()
            endforeach()
        endif()
    endforeach()
endforeach()
if(bad)
    list(JOIN bad "\n  " msg)
    message(FATAL_ERROR "Widgets headers outside forms/:\n  ${msg}")
endif()
message(STATUS "layering ok: ${CMAKE_CURRENT_LIST_FILE}")
