// main window forms arrive here
