// plug-in host arrives here
