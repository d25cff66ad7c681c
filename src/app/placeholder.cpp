// app logic arrives here
